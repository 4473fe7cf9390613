// Arranging and reading the test prefix's registry under HKEY_LOCAL_MACHINE.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qarv::test {

void SetHklmValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD size);
void SetHklmDword(const wchar_t* key, const wchar_t* name, DWORD value);
void SetHklmString(const wchar_t* key, const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ);
void DeleteHklmValue(const wchar_t* key, const wchar_t* name);
void DeleteHklmTree(const wchar_t* key);
bool HklmKeyExists(const wchar_t* key);
bool HklmValueExists(const wchar_t* key, const wchar_t* name);
// The string (REG_SZ) value, or false when missing or of another type.
bool ReadHklmString(const wchar_t* key, const wchar_t* name, std::wstring& value);

// The reboot-time operations recorded by MoveFileExW(MOVEFILE_DELAY_UNTIL_REBOOT): the strings of
// Session Manager's PendingFileRenameOperations, in order (a deletion is a path and an empty string).
std::vector<std::wstring> PendingFileRenames();
void ClearPendingFileRenames();
// The paths registered for deletion at reboot, in order, without the NT prefix ("\??\").
std::vector<std::wstring> PendingDeletions();

constexpr const wchar_t* kRunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kSessionManagerKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

}  // namespace qarv::test
