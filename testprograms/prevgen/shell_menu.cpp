// Stand-in of the previous generation's shell context-menu extension. Registering it writes a mark
// to the registry and unregistering removes it, so a test sees regsvr32 run it for real.
#include <windows.h>

#include "shell_menu_mark.h"

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kShellMenuMarkKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return E_FAIL;
    }
    const DWORD registered = 1;
    const LONG status = RegSetValueExW(key, kShellMenuMarkValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&registered),
                                       sizeof(registered));
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? S_OK : E_FAIL;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    const LONG status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, kShellMenuMarkKey);
    return (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) ? S_OK : E_FAIL;
}
