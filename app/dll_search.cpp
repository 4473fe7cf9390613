// Restricting the DLL search order at start-up.
#include "app/dll_search.h"

#include <windows.h>

void RestrictDllSearchToSystem() {
    // Looked up at run time: systems before Windows 7 with KB2533623 lack the call.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto setDefaultDllDirectories = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
                                                       GetProcAddress(kernel, "SetDefaultDllDirectories")))
                                                 : nullptr;
    if (setDefaultDllDirectories == nullptr || !setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        SetDllDirectoryW(L"");
    }
}
