// Installed-product detection and the restart registration under the machine's Run key.
#pragma once

#include <windows.h>

#include <string>

namespace qarv {

class SetupHost;

constexpr const wchar_t* kProductKey = L"SOFTWARE\\Qarv";
constexpr const wchar_t* kInstallFolderValue = L"szQarvDir";
constexpr const wchar_t* kInterfaceLanguageValue = L"fGiaoDien";
constexpr const wchar_t* kRunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kRestartValue = L"QarvPro2009Setup";
constexpr const wchar_t* kMainProgramName = L"Qarv2009.exe";
constexpr DWORD kInstallFolderCapacity = 260;

// 1 when the current generation is installed (it then sets the host's interface language from
// fGiaoDien and removes the restart registration), 0 otherwise, also when anything inside throws.
// Runs on the GUI thread during the progress dialog's initialisation.
int IsProductInstalled(SetupHost* host);

// Fills `buffer` (`capacity` wide characters) with the REG_SZ value szQarvDir of
// HKEY_LOCAL_MACHINE\SOFTWARE\Qarv, creating the key empty when it is missing. Returns the length
// up to the first null, or 0 when there is no usable value: missing, another type, empty, longer
// than the buffer, or without a terminator inside the buffer. The buffer always ends up holding a
// terminated string (empty on 0) when `capacity` is at least 1.
int ReadInstallFolder(wchar_t* buffer, DWORD capacity);

// The folder, one backslash unless it already ends in one, and "Qarv2009.exe". The empty string
// when `folder` is null, empty, or has no terminator within 1023 characters (1 to 1022 accepted).
std::wstring BuildMainProgramPath(const wchar_t* folder);

// Writes the Run value QarvPro2009Setup: this executable's full path in double quotes, so that a
// path with spaces cannot be taken for a shorter program at logon. Writes nothing when the path
// does not fit 260 characters. Failures are not reported.
void RegisterRestart();

// Removes that Run value; a missing value is no error. Failures are not reported.
void UnregisterRestart();

}  // namespace qarv
