// Starting the extracted installer.
#pragma once

// Capacity of the quoted command line, terminator included: paths of up to 257 characters fit.
constexpr int kCommandLineCapacity = 260;

// Starts `programPath` with its quoted path as the command line and does not wait for it.
// Returns non-zero when the process was created. A path whose quoted form does not fit the
// command line fails with ERROR_FILENAME_EXCED_RANGE, so the caller's shell fallback can run.
int LaunchInstaller(const wchar_t* programPath);

// The shell fallback: asks the shell to open `programPath` (unquoted) and traces the outcome.
// Returns true when the shell reports success.
bool ShellOpenInstaller(const wchar_t* programPath);
