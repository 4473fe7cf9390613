// The installer of the whole-run benchmark's payload: it records the moment it starts and ends at
// once, so that a whole launcher run is timed up to its installer's first instruction and no
// further. It writes the performance counter (shared by every process on the machine) to
// "started.txt" beside itself, the launcher's work folder; whole_run.exe reads it there.
#include <windows.h>

#include <cstdio>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    std::wstring file(path, length);
    file = file.substr(0, file.find_last_of(L'\\') + 1) + L"started.txt";
    HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return 1;
    char text[32];
    const int size = std::snprintf(text, sizeof text, "%lld\n", static_cast<long long>(now.QuadPart));
    DWORD written = 0;
    const BOOL ok = WriteFile(out, text, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(out);
    return ok ? 0 : 1;
}
