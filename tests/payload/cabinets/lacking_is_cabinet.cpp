// A stand-in cabinet library that exports FDICreate, FDICopy and FDIDestroy but not FDIIsCabinet:
// the extraction must refuse it and unload it again. Every entry fails, so nothing it does can
// pass for an extraction.
#include <windows.h>

extern "C" {

__declspec(dllexport) void* __cdecl FDICreate(void*, void*, void*, void*, void*, void*, void*, int, void*) {
    return nullptr;
}

__declspec(dllexport) BOOL __cdecl FDICopy(void*, char*, char*, int, void*, void*, void*) { return FALSE; }

__declspec(dllexport) BOOL __cdecl FDIDestroy(void*) { return FALSE; }

}  // extern "C"
