// Setup settings: the registry double-word reader and the per-run settings record.
#include "diag/settings.h"

#include "common/unique_handle.h"
#include "diag/trace.h"

int ReadDwordSetting(const wchar_t* subKey, DWORD* value, const wchar_t* valueName) {
    if (value == nullptr) return 0;

    qarv::UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE,
                        nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
        return 0;
    }

    // Type and size first: a string, a quad word or a big-endian double word must never land in
    // the caller's four bytes.
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return 0;
    if (type != REG_DWORD || size != sizeof(DWORD)) return 0;

    DWORD data = 0;
    size = sizeof(data);
    if (RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(DWORD)) {
        return 0;
    }
    *value = data;
    return 1;
}

SetupSettings LoadSetupSettings() {
    SetupSettings settings;
    settings.fAllowDebugPrint = 0;
    const int traceRead = ReadDwordSetting(kSetupSettingsKey, &settings.fAllowDebugPrint, L"fAllowDebugPrint");
    TraceEnabled = (traceRead && settings.fAllowDebugPrint != 0) ? 1 : 0;

    settings.dwSleepTime = 0;
    if (!ReadDwordSetting(kSetupSettingsKey, &settings.dwSleepTime, L"dwSleepTime")) settings.dwSleepTime = 0;
    return settings;
}
