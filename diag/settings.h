// The setup settings under HKEY_LOCAL_MACHINE "SOFTWARE\QarvSetup" and the double-word reader.
#pragma once

#include <windows.h>

namespace qarv {

struct SetupSettings {
    DWORD fAllowDebugPrint = 0;  // non-zero switches the trace output on
    DWORD dwSleepTime = 0;       // pause in milliseconds after a successful extraction
};

constexpr const wchar_t* kSetupSettingsKey = L"SOFTWARE\\QarvSetup";

// Reads one REG_DWORD of exactly four bytes from HKEY_LOCAL_MACHINE\subKey. Opens the key through
// RegCreateKeyExW, so a missing key is created empty when the process may. Returns 1 when `value`
// was filled, 0 on any failure (no key, no value, wrong type or size); `value` is then untouched.
int ReadDwordSetting(const wchar_t* subKey, DWORD* value, const wchar_t* valueName);

// Reads both settings once per run, on the worker thread, and sets TraceEnabled from the first.
// A setting that cannot be read is 0.
SetupSettings LoadSetupSettings();

}  // namespace qarv
