// Restricting the DLL search order at start-up.
#include "common/system_library.h"
#include "app/dll_search.h"

#include <windows.h>

namespace qarv {

void RestrictDllSearchToSystem() {
    // Looked up at run time: systems before Windows 7 with KB2533623 lack the call.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories =
        qarv::SystemEntry<SetDefaultDllDirectoriesFn>(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (setDefaultDllDirectories == nullptr || !setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        SetDllDirectoryW(L"");
    }
}

}  // namespace qarv
