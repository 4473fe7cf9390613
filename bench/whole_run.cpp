// Times one whole program run as its user waits for it: starts the program under the trace
// capture's debug loop and stamps every debugger-output line, and the program's exit, with the
// milliseconds since just before CreateProcessW. When the trace names the installer the launcher
// started ("Executing <path> ..."), it also reads the bench installer's start stamp from
// started.txt beside that path. A program that leaves no trace (another vendor's installer)
// names the stamp file with --stamp=FILE (quoted when FILE holds spaces) instead.
//
//   whole_run.exe [--stamp=FILE] <program> [arguments]
//
// Prints "line <ms> <text>", then "installer <ms>" (when known), then "exit <ms> <code>".
// Exit code: 0 when the program ran to its end, 1 when it could not be started or timed out.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/tracecap/debug_capture.h"

namespace {

// Runs of the size sweep's largest payloads take minutes on a loaded machine.
constexpr DWORD kRunLimitMs = 600000;
constexpr DWORD kInstallerWaitMs = 10000;

long long Counter() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double Milliseconds(long long from, long long to) {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    return 1000.0 * static_cast<double>(to - from) / frequency;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    return bytes;
}

// The installer path from "VURoruz: Executing <path> ...\n", or empty.
std::wstring InstallerPath(const std::wstring& line) {
    const std::wstring head = L"VURoruz: Executing ";
    const std::wstring tail = L" ...";
    if (line.compare(0, head.size(), head) != 0) return std::wstring();
    const size_t end = line.rfind(tail);
    if (end == std::wstring::npos || end < head.size()) return std::wstring();
    return line.substr(head.size(), end - head.size());
}

// The bench installer's start stamp from the file `stamp`, waiting for it up to kInstallerWaitMs;
// 0 when none came.
long long InstallerStart(const std::wstring& stamp) {
    const ULONGLONG deadline = GetTickCount64() + kInstallerWaitMs;
    do {
        HANDLE file = CreateFileW(stamp.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            char text[32] = {};
            DWORD read = 0;
            ReadFile(file, text, sizeof text - 1, &read, nullptr);
            CloseHandle(file);
            if (read > 0 && text[read - 1] == '\n') return std::strtoll(text, nullptr, 10);
        }
        Sleep(5);
    } while (GetTickCount64() < deadline);
    return 0;
}

// Splits a leading --stamp=FILE off `commandLine` and returns FILE, or empty when there is none.
// Both quotings of a FILE with spaces pass: --stamp="FILE" and, as CreateProcess callers and
// Wine's loader quote a whole argument, "--stamp=FILE".
std::wstring TakeStampOption(std::wstring& commandLine) {
    const std::wstring option = L"--stamp=";
    const bool wholeQuoted = commandLine.compare(0, option.size() + 1, L"\"" + option) == 0;
    if (!wholeQuoted && commandLine.compare(0, option.size(), option) != 0) return std::wstring();
    size_t begin = option.size() + (wholeQuoted ? 1 : 0);
    size_t end;
    size_t next;
    if (wholeQuoted || (begin < commandLine.size() && commandLine[begin] == L'"')) {
        if (!wholeQuoted) ++begin;
        end = commandLine.find(L'"', begin);
        if (end == std::wstring::npos) return std::wstring();
        next = end + 1;
    } else {
        end = commandLine.find(L' ', begin);
        if (end == std::wstring::npos) end = commandLine.size();
        next = end;
    }
    std::wstring stamp = commandLine.substr(begin, end - begin);
    next = commandLine.find_first_not_of(L' ', next);
    commandLine = next == std::wstring::npos ? std::wstring() : commandLine.substr(next);
    return stamp;
}

}  // namespace

int wmain() {
    std::wstring commandLine = qarv::tools::CommandLineAfterProgramName();
    const std::wstring stampOption = TakeStampOption(commandLine);
    if (commandLine.empty()) {
        std::fprintf(stderr, "usage: whole_run.exe [--stamp=FILE] <program> [arguments]\n");
        return 1;
    }
    struct Line {
        long long at;
        std::wstring text;
    };
    std::vector<Line> lines;
    lines.reserve(64);
    qarv::tools::DebugCaptureCallbacks callbacks;
    callbacks.onOutput = [&lines](const std::wstring& text) { lines.push_back({Counter(), text}); };

    const long long start = Counter();
    const qarv::tools::DebugCaptureResult result = qarv::tools::RunUnderDebugger(commandLine, callbacks, kRunLimitMs);
    const long long end = Counter();
    if (!result.started || result.timedOut) {
        std::fprintf(stderr, "whole_run: %s %s\n", Utf8(commandLine).c_str(),
                     result.started ? "timed out" : "could not be started");
        return 1;
    }

    std::wstring installer;
    for (const Line& line : lines) {
        std::wstring text = line.text;
        while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
        std::printf("line %.3f %s\n", Milliseconds(start, line.at), Utf8(text).c_str());
        if (installer.empty()) installer = InstallerPath(text);
    }
    const std::wstring stamp = !stampOption.empty() ? stampOption
                               : installer.empty() ? std::wstring()
                               : installer.substr(0, installer.find_last_of(L'\\') + 1) + L"started.txt";
    if (!stamp.empty()) {
        const long long installerStart = InstallerStart(stamp);
        if (installerStart != 0) std::printf("installer %.3f\n", Milliseconds(start, installerStart));
    }
    std::printf("exit %.3f %lu\n", Milliseconds(start, end), static_cast<unsigned long>(result.exitCode));
    return 0;
}
