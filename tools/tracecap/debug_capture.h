// Running a program as a debuggee and collecting what it writes to the debugger output stream.
// Used by the trace capture program and by the tests; it works the same on Windows and Wine.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace qarv::tools {

struct DebugCaptureResult {
    bool started = false;  // the process was created
    DWORD startError = 0;  // GetLastError of CreateProcessW when it was not
    DWORD exitCode = 0;    // the debuggee's exit code
    bool timedOut = false; // the deadline passed and the debuggee was terminated
};

struct DebugCaptureCallbacks {
    std::function<void(const std::wstring& text)> onOutput;        // one debug string, as written
    std::function<void(DWORD processId, HANDLE process)> onStarted;  // right after creation
    // When set, called for each debug string instead of onOutput. `mayHaveLostLetters` is true for
    // a string that reached the debugger in the ANSI code page on a system that converts wide
    // strings to it (no WaitForDebugEventEx: before Windows 10): letters outside the code page
    // came through as '?' or a look-alike, and the debugger cannot tell which.
    std::function<void(const std::wstring& text, bool mayHaveLostLetters)> onOutputChecked;
};

// True when the system hands wide debug strings to a debugger as written (WaitForDebugEventEx).
bool SystemDeliversWideDebugStrings();

// Starts `commandLine` with DEBUG_ONLY_THIS_PROCESS and runs the debug loop on the calling thread
// until the process exits. `timeoutMs` bounds the whole run (INFINITE for none); past it the
// debuggee is terminated. `currentDirectory` may be null.
DebugCaptureResult RunUnderDebugger(const std::wstring& commandLine, const DebugCaptureCallbacks& callbacks,
                                    DWORD timeoutMs = INFINITE, const wchar_t* currentDirectory = nullptr);

// This process's raw command line after its own program name, with the caller's quoting kept as it
// was: what a capturing program passes on to the program it runs.
std::wstring CommandLineAfterProgramName();

}  // namespace qarv::tools
