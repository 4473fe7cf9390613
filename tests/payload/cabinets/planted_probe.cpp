// Started by the planted-library test from a folder that also holds a planted Cabinet.dll.
//   planted_probe CABINET FOLDER   runs ExtractCabinet; exit code 1 when it succeeded, else 0
//   planted_probe --search-path    loads "Cabinet.dll" through the search path; exit code 3 when
//                                  that gave the planted library (no FDIIsCabinet), 4 otherwise
#include <windows.h>

#include <cwchar>

#include "payload/cabinet_extractor.h"

using namespace qarv;

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wcscmp(argv[1], L"--search-path") == 0) {
        HMODULE module = LoadLibraryA("Cabinet.dll");
        if (module == nullptr) return 5;
        return GetProcAddress(module, "FDIIsCabinet") == nullptr ? 3 : 4;
    }
    if (argc != 3) return 2;
    wchar_t programPath[kProgramPathCapacity] = {};
    return ExtractCabinet(argv[1], argv[2], programPath) == 1 ? 1 : 0;
}
