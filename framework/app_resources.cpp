// Resource-facing helpers of the dialog framework.
#include "framework/app_resources.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include "framework/window_station.h"

namespace qarv {

namespace {
constexpr int kBoxTextCapacity = 1024;
constexpr DWORD kLongestPath = 32768;

// Cuts the terminated module path in `path` down to its file name without the extension, in
// place. Allocates nothing.
void KeepNameStem(wchar_t* path) noexcept {
    wchar_t* name = path;
    for (wchar_t* c = path; *c != L'\0'; ++c) {
        if (*c == L'\\' || *c == L'/') name = c + 1;
    }
    wchar_t* dot = nullptr;
    for (wchar_t* c = name; *c != L'\0'; ++c) {
        if (*c == L'.') dot = c;
    }
    if (dot != nullptr) *dot = L'\0';
    if (name != path) std::memmove(path, name, (std::wcslen(name) + 1) * sizeof(wchar_t));
}
}  // namespace

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
        if (length < path.size()) break;
        if (path.size() >= kLongestPath) return std::wstring();
        path.resize(path.size() * 2);
    }
    KeepNameStem(path.data());
    return std::wstring(path.data());
}

int AppMessageBox(HWND owner, UINT stringId, UINT iconStyle) {
    // Nobody could answer: decide as the only button would.
    if (!SomeoneCanAnswer()) return IDOK;
    const std::wstring text = LoadStringById(stringId);
    const std::wstring caption = ApplicationName();
    return MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OK | iconStyle);
}

int AppMessageBoxNoAlloc(HWND owner, UINT stringId, UINT iconStyle) noexcept {
    if (!SomeoneCanAnswer()) return IDOK;
    wchar_t text[kBoxTextCapacity];
    if (LoadStringW(ResourceModule(), stringId, text, kBoxTextCapacity) <= 0) text[0] = L'\0';
    // The longest path the system can name, so the caption is ApplicationName's whenever that has one.
    wchar_t caption[kLongestPath];
    const DWORD length = GetModuleFileNameW(nullptr, caption, kLongestPath);
    if (length == 0 || length >= kLongestPath) {
        caption[0] = L'\0';
    } else {
        KeepNameStem(caption);
    }
    return MessageBoxW(owner, text, caption, MB_OK | iconStyle);
}

}  // namespace qarv
