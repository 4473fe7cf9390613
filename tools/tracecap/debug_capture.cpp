// The debug loop behind the trace capture program.
#include "common/system_library.h"
#include "tools/tracecap/debug_capture.h"

#include <vector>

#include "common/unique_handle.h"

namespace qarv::tools {
namespace {

constexpr size_t kMaxDebugStringChars = 65536;

// Reads a NUL-terminated string of `charSize`-byte units from the debuggee, in small steps so that
// a string ending near an unmapped page is still read in full.
template <typename Char>
std::basic_string<Char> ReadRemoteString(HANDLE process, const void* address) {
    std::basic_string<Char> text;
    const auto* cursor = static_cast<const BYTE*>(address);
    Char piece[64];
    while (text.size() < kMaxDebugStringChars) {
        SIZE_T read = 0;
        if (!ReadProcessMemory(process, cursor, piece, sizeof(piece), &read) || read < sizeof(Char)) {
            // Retry one character at a time up to the page end.
            if (!ReadProcessMemory(process, cursor, piece, sizeof(Char), &read) || read < sizeof(Char)) break;
        }
        const size_t count = read / sizeof(Char);
        for (size_t i = 0; i < count; ++i) {
            if (piece[i] == 0) return text;
            text.push_back(piece[i]);
        }
        cursor += count * sizeof(Char);
    }
    return text;
}

using WaitForDebugEventFunction = BOOL(WINAPI*)(LPDEBUG_EVENT, DWORD);

// A debugger that waits with WaitForDebugEventEx (Windows 10 on) receives OutputDebugStringW's
// text as written; one that waits with WaitForDebugEvent receives it converted to the ANSI code
// page. Looked up at run time, so that the program still starts on older systems.
// https://learn.microsoft.com/windows/win32/api/debugapi/nf-debugapi-waitfordebugeventex
WaitForDebugEventFunction WideDebugEventWait() {
    return qarv::SystemEntry<WaitForDebugEventFunction>(GetModuleHandleW(L"kernel32.dll"), "WaitForDebugEventEx");
}

std::wstring AnsiToWide(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

}  // namespace

bool SystemDeliversWideDebugStrings() { return WideDebugEventWait() != nullptr; }

DebugCaptureResult RunUnderDebugger(const std::wstring& commandLine, const DebugCaptureCallbacks& callbacks,
                                    DWORD timeoutMs, const wchar_t* currentDirectory) {
    DebugCaptureResult result;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    UniqueProcessInformation debuggee;
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr,
                        currentDirectory, &startup, debuggee.put())) {
        result.startError = GetLastError();
        return result;
    }
    result.started = true;
    if (callbacks.onStarted) callbacks.onStarted(debuggee.processId(), debuggee.process());

    const WaitForDebugEventFunction wideWait = WideDebugEventWait();
    const WaitForDebugEventFunction wait = wideWait != nullptr ? wideWait : WaitForDebugEvent;
    const ULONGLONG deadline = timeoutMs == INFINITE ? 0 : GetTickCount64() + timeoutMs;
    bool running = true;
    while (running) {
        DEBUG_EVENT event{};
        if (!wait(&event, 100)) {
            if (deadline != 0 && !result.timedOut && GetTickCount64() > deadline) {
                result.timedOut = true;
                TerminateProcess(debuggee.process(), 0xDEAD);
            }
            continue;
        }
        DWORD continueStatus = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
            // The image file handles are the debugger's to close; the event's process and thread
            // handles belong to the system.
            case CREATE_PROCESS_DEBUG_EVENT: {
                const UniqueKernelHandle image(event.u.CreateProcessInfo.hFile);
                break;
            }
            case LOAD_DLL_DEBUG_EVENT: {
                const UniqueKernelHandle image(event.u.LoadDll.hFile);
                break;
            }
            case OUTPUT_DEBUG_STRING_EVENT: {
                const OUTPUT_DEBUG_STRING_INFO& output = event.u.DebugString;
                const std::wstring text = output.fUnicode
                                              ? ReadRemoteString<wchar_t>(debuggee.process(), output.lpDebugStringData)
                                              : AnsiToWide(ReadRemoteString<char>(debuggee.process(), output.lpDebugStringData));
                // With the wide wait, an ANSI string is one the program wrote in ANSI itself.
                const bool mayHaveLostLetters = !output.fUnicode && wideWait == nullptr;
                if (callbacks.onOutputChecked) {
                    callbacks.onOutputChecked(text, mayHaveLostLetters);
                } else if (callbacks.onOutput) {
                    callbacks.onOutput(text);
                }
                break;
            }
            case EXCEPTION_DEBUG_EVENT:
                // The loader's initial breakpoint is ours to swallow; every other exception goes
                // back to the debuggee's own handlers.
                if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                    continueStatus = DBG_EXCEPTION_NOT_HANDLED;
                break;
            case EXIT_PROCESS_DEBUG_EVENT:
                result.exitCode = event.u.ExitProcess.dwExitCode;
                running = false;
                break;
            default:
                break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
    }
    return result;
}

std::wstring CommandLineAfterProgramName() {
    const wchar_t* cursor = GetCommandLineW();
    if (*cursor == L'"') {
        ++cursor;
        while (*cursor && *cursor != L'"') ++cursor;
        if (*cursor) ++cursor;
    } else {
        while (*cursor && *cursor != L' ' && *cursor != L'\t') ++cursor;
    }
    while (*cursor == L' ' || *cursor == L'\t') ++cursor;
    return cursor;
}

}  // namespace qarv::tools
