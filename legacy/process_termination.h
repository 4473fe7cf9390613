// Ending the previous generation's running programs: the debug privilege, termination by program
// file and by main window. Called on the setup worker thread only.
#pragma once

#include <windows.h>

namespace qarv {

// Enables "SeDebugPrivilege" in the process's own token. Returns 0 when the token cannot be
// opened, otherwise 1; whether the privilege was granted is not examined.
int EnableDebugPrivilege();

// Ends every process whose main module, in its long form, is `targetPath` (letters A to Z
// compare without case, everything else exactly). Every process is visited, so all running copies
// end. Returns 1 when a matching process was ended or when the process list cannot be read at
// all, 0 when the whole list was walked and nothing was ended. Writes four kinds of trace lines.
int TerminateProcessesByPath(const wchar_t* targetPath);

// The first top-level window of class "Qarv2006" if its title contains "Qarv2006" (exact case),
// else null.
HWND FindPreviousGenerationWindow();

// Ends the process that owns FindPreviousGenerationWindow's window. Non-zero when it was ended;
// 0, with nothing ended, when the window no longer belongs to the process that was opened.
int TerminateByWindow();

// True when both paths are equal, with A to Z equal to a to z and every other character compared
// exactly, independent of any locale.
bool PathsEqualFoldingAsciiOnly(const wchar_t* left, const wchar_t* right);

// The platform calls of the termination a test may replace (common/platform_calls.h), where Wine
// cannot be made to fail on demand. Null: the real call.
struct ProcessTerminationPlatformCalls {
    HANDLE(WINAPI* createToolhelp32Snapshot)(DWORD flags, DWORD processId) = nullptr;
    // TerminateByWindow's open of the window's process, where a test stands in for an id reused
    // between finding the window and opening its process.
    HANDLE(WINAPI* openProcess)(DWORD access, BOOL inherit, DWORD processId) = nullptr;
};

}  // namespace qarv
