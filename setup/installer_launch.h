// Starting the extracted installer.
#pragma once

#include <windows.h>

namespace qarv {

// Capacity of the quoted command line, terminator included: paths of up to 257 characters fit.
constexpr int kCommandLineCapacity = 260;

// Starts `programPath` with its quoted path as the command line and does not wait for it.
// Returns non-zero when the process was created. A path whose quoted form does not fit the
// command line fails with ERROR_FILENAME_EXCED_RANGE, so the caller's shell fallback can run.
int LaunchInstaller(const wchar_t* programPath);

// The shell fallback: asks the shell to open `programPath` (unquoted) and traces the outcome.
// Returns true when the shell reports success: a value above 32 (32 itself is SE_ERR_DLLNOTFOUND).
bool ShellOpenInstaller(const wchar_t* programPath);

// The platform calls of the launch a test may replace (common/platform_calls.h): the shell's
// answer, which Wine gives only as success or a missing file. Null: the real call.
struct InstallerLaunchPlatformCalls {
    HINSTANCE(WINAPI* shellExecute)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) = nullptr;
};

}  // namespace qarv
