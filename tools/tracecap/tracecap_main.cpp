// tracecap: runs a program under a minimal debugger and prints each line it writes to the
// debugger output stream (OutputDebugString), then exits with the program's exit code.
//
//   tracecap.exe "C:\path\QarvPro 2009 Setup.exe"
//
// Output is UTF-8 on standard output. If the program cannot be started, tracecap says why on
// standard error and exits with 127.
#include <windows.h>

#include <string>

#include "tools/tracecap/debug_capture.h"

namespace {

void WriteUtf8(HANDLE stream, const std::wstring& text) {
    if (text.empty()) return;
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(stream, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

int wmain() {
    const std::wstring commandLine = qarv::CommandLineAfterProgramName();
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (commandLine.empty()) {
        WriteUtf8(err, L"usage: tracecap.exe <program> [arguments]\n");
        return 127;
    }

    qarv::DebugCaptureCallbacks callbacks;
    callbacks.onOutput = [out](const std::wstring& text) {
        // Every trace line carries its own line feed; add one to any text that does not.
        WriteUtf8(out, (!text.empty() && text.back() == L'\n') ? text : text + L"\n");
    };
    const qarv::DebugCaptureResult result = qarv::RunUnderDebugger(commandLine, callbacks);
    if (!result.started) {
        WriteUtf8(err, L"tracecap: cannot start " + commandLine + L" (error " + std::to_wstring(result.startError) + L")\n");
        return 127;
    }
    return static_cast<int>(result.exitCode);
}
