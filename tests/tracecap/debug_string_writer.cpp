// A program for the trace capture's tests: writes one wide and one ANSI debug string, then exits
// with 7. With --wide-route it only prints whether this system hands debuggers wide strings.
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "tools/tracecap/debug_capture.h"

int wmain(int argc, wchar_t** argv) {
    if (argc > 1 && std::wcscmp(argv[1], L"--wide-route") == 0) {
        const char* answer = qarv::tools::SystemDeliversWideDebugStrings() ? "wide\n" : "ansi\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), answer, static_cast<DWORD>(std::strlen(answer)), &written, nullptr);
        return 0;
    }
    // Letters outside most ANSI code pages: a macron a, and a Vietnamese o with a dot below.
    OutputDebugStringW(L"wide: b\u0101d H\u1ECDc\n");
    OutputDebugStringA("narrow: plain\n");
    return 7;
}
