// tracecap: runs a program under a minimal debugger and prints each line it writes to the
// debugger output stream (OutputDebugString), then exits with the program's exit code.
//
//   tracecap.exe "C:\path\QarvPro 2009 Setup.exe"
//
// Output is UTF-8 on standard output. Where the system hands the debugger its lines in the ANSI
// code page (before Windows 10), each line starts with "(ANSI) ": letters outside that code page
// may have come through as '?' or as a look-alike letter. If the program cannot be started,
// tracecap says why on standard error and exits with 127; a program that requires administrator
// rights (the launcher) starts only from an elevated prompt.
#include <windows.h>

#include <string>

#include "tools/tracecap/debug_capture.h"

namespace qarv::tools {
namespace {

// ERROR_ELEVATION_REQUIRED, which MinGW's headers lack.
constexpr DWORD kErrorElevationRequired = 740;

void WriteUtf8(HANDLE stream, const std::wstring& text) {
    if (text.empty()) return;
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(stream, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace
}  // namespace qarv::tools

int wmain() {
    using namespace qarv::tools;
    const std::wstring commandLine = qarv::tools::CommandLineAfterProgramName();
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (commandLine.empty()) {
        WriteUtf8(err, L"usage: tracecap.exe <program> [arguments]\n");
        return 127;
    }

    qarv::tools::DebugCaptureCallbacks callbacks;
    bool lossNoted = false;
    callbacks.onOutputChecked = [out, err, &lossNoted](const std::wstring& text, bool mayHaveLostLetters) {
        if (mayHaveLostLetters && !lossNoted) {
            lossNoted = true;
            WriteUtf8(err, L"tracecap: this Windows hands the debugger its lines in the ANSI code page (" +
                               std::to_wstring(GetACP()) +
                               L"); in lines marked (ANSI), letters outside it may show as '?' or as a look-alike "
                               L"letter. Windows 10 and later show them as written.\n");
        }
        // Every trace line carries its own line feed; add one to any text that does not.
        const std::wstring line = (!text.empty() && text.back() == L'\n') ? text : text + L"\n";
        WriteUtf8(out, mayHaveLostLetters ? L"(ANSI) " + line : line);
    };
    const qarv::tools::DebugCaptureResult result = qarv::tools::RunUnderDebugger(commandLine, callbacks);
    if (!result.started) {
        std::wstring message = L"tracecap: cannot start " + commandLine + L" (error " + std::to_wstring(result.startError) + L")";
        if (result.startError == kErrorElevationRequired) {
            // CreateProcess does not elevate: a program that requires administrator rights starts
            // only from a process that has them.
            message += L": it requires administrator rights; run tracecap from a command prompt opened with "
                       L"\"Run as administrator\"";
        }
        WriteUtf8(err, message + L"\n");
        return 127;
    }
    return static_cast<int>(result.exitCode);
}
