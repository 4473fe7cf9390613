// Setup settings: the registry double-word reader and the per-run settings record.
#include "diag/settings.h"

#include "common/registry_value.h"
#include "diag/trace.h"

namespace qarv {

int ReadDwordSetting(const wchar_t* subKey, DWORD* value, const wchar_t* valueName) {
    if (value == nullptr) return 0;
    const qarv::UniqueRegKey key =
        qarv::OpenRegistryKeyToRead(HKEY_LOCAL_MACHINE, subKey, qarv::RegistryKeyMode::kCreateIfMissing);
    if (!key) return 0;
    // Exactly four bytes of REG_DWORD: a string, a quad word or a big-endian double word is no setting.
    DWORD data = 0;
    if (!qarv::ReadRegistryValue(key.get(), valueName, REG_DWORD, qarv::RegistrySize::kExactlyCapacity, &data,
                                 sizeof(data))) {
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

}  // namespace qarv
