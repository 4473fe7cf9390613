// Resource-facing helpers of the dialog framework.
#include "framework/app_resources.h"

#include <process.h>

#include <vector>

#include "framework/window_station.h"

namespace qarv {

HMODULE ResourceModule() { return GetModuleHandleW(nullptr); }

std::wstring LoadStringById(UINT id) {
    // With a zero buffer size LoadStringW hands out a read-only pointer into the resource itself,
    // so any length is read in full.
    const wchar_t* text = nullptr;
    const int length = LoadStringW(ResourceModule(), id, reinterpret_cast<wchar_t*>(&text), 0);
    if (length <= 0 || text == nullptr) return std::wstring();
    return std::wstring(text, static_cast<size_t>(length));
}

std::wstring ApplicationName() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 32768) return std::wstring();
        path.resize(path.size() * 2);
    }
    std::wstring name(path.begin(), path.end());
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return name;
}

int AppMessageBox(HWND owner, UINT stringId, UINT iconStyle) {
    // Nobody could answer: decide as the only button would.
    if (!WindowStationIsVisible()) return IDOK;
    const std::wstring text = LoadStringById(stringId);
    const std::wstring caption = ApplicationName();
    return MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OK | iconStyle);
}

bool StartWorkerThread(unsigned(__stdcall* routine)(void*), void* argument) {
    const uintptr_t thread = _beginthreadex(nullptr, 0, routine, argument, 0, nullptr);
    if (thread == 0) return false;
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

}  // namespace qarv
