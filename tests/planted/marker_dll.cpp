// A DLL that leaves a mark when it is loaded: copies of it are planted beside the launcher under
// the names of system DLLs. On load it records its own file name under
// HKLM\SOFTWARE\QarvTest\Planted and refuses to stay loaded.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(instance, path, MAX_PATH);
    const wchar_t* name = path;
    for (const wchar_t* c = path; *c; ++c)
        if (*c == L'\\') name = c + 1;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QarvTest\\Planted", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        const DWORD loaded = 1;
        RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&loaded), sizeof(loaded));
        RegCloseKey(key);
    }
    return FALSE;
}
