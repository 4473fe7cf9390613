// payload_probe.dll: a module with no code to speak of. The drop tests copy it and give each copy
// the RT_RCDATA 129 they need (UpdateResourceW), then load the copy as a data file.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
