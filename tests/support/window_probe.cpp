// Finding and driving the windows of another process.
#include "tests/support/window_probe.h"

namespace qarv::test {
namespace {

struct Search {
    DWORD processId;
    const wchar_t* className;
    const wchar_t* caption;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (search->processId != 0 && owner != search->processId) return TRUE;
    if (search->className != nullptr && WindowClass(window) != search->className) return TRUE;
    if (search->caption != nullptr && WindowText(window) != search->caption) return TRUE;
    search->found.push_back(window);
    return TRUE;
}

// The icon a box shows, or null. Pass `icon` null to accept any icon.
bool ShowsSystemIcon(HWND box, LPCWSTR icon) {
    // Shared system icons have one handle per process: the comparison holds for boxes of the
    // calling process only.
    const HICON expected = icon ? LoadIconW(nullptr, icon) : nullptr;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
        DWORD_PTR shown = 0;
        SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &shown);
        if (shown == 0) continue;
        if (icon == nullptr || reinterpret_cast<HICON>(shown) == expected) return true;
    }
    return false;
}

}  // namespace

std::vector<HWND> FindTopLevelWindows(DWORD processId, const wchar_t* className, const wchar_t* caption) {
    Search search{processId, className, caption, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring WindowText(HWND window) {
    // WM_GETTEXT with a time-out: a hung target must not hang the test.
    wchar_t text[4096] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                             2000, &copied)) {
        return std::wstring();
    }
    return std::wstring(text, copied);
}

std::wstring ControlText(HWND dialog, int controlId) {
    HWND control = GetDlgItem(dialog, controlId);
    return control ? WindowText(control) : std::wstring();
}

std::wstring WindowClass(HWND window) {
    wchar_t name[256] = {};
    const int length = GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return std::wstring(name, length > 0 ? static_cast<size_t>(length) : 0);
}

bool IsMessageBox(HWND window) {
    return WindowClass(window) == L"#32770" && GetDlgItem(window, 0xFFFF) != nullptr;
}

MessageBoxSeen WaitForMessageBox(DWORD processId, DWORD timeoutMs) {
    MessageBoxSeen seen;
    WaitUntil(
        [&] {
            for (HWND window : FindTopLevelWindows(processId, L"#32770", nullptr)) {
                if (IsMessageBox(window) && IsWindowVisible(window)) {
                    seen.window = window;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    if (seen.window == nullptr) return seen;
    seen.caption = WindowText(seen.window);
    seen.text = ControlText(seen.window, 0xFFFF);
    seen.anyIcon = ShowsSystemIcon(seen.window, nullptr);
    seen.stopIcon = ShowsSystemIcon(seen.window, IDI_HAND);
    seen.informationIcon = ShowsSystemIcon(seen.window, IDI_INFORMATION);
    for (HWND child = GetWindow(seen.window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (WindowClass(child) == L"Button") seen.buttons.push_back(WindowText(child));
    }
    return seen;
}

void DismissMessageBox(HWND box) { PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }

void PostKey(HWND window, UINT virtualKey) {
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC)) << 16;
    PostMessageW(window, WM_KEYDOWN, virtualKey, scan | 1);
    PostMessageW(window, WM_KEYUP, virtualKey, scan | 1 | (1u << 30) | (1u << 31));
}

void PostAltF4(HWND window) {
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(VK_F4, MAPVK_VK_TO_VSC)) << 16;
    const LPARAM altDown = 1u << 29;
    PostMessageW(window, WM_SYSKEYDOWN, VK_F4, scan | 1 | altDown);
    PostMessageW(window, WM_SYSKEYUP, VK_F4, scan | 1 | altDown | (1u << 30) | (1u << 31));
}

bool AnswersMessages(HANDLE process, DWORD timeoutMs) {
    if (WaitForSingleObject(process, 0) != WAIT_TIMEOUT) return false;
    for (HWND window : FindTopLevelWindows(GetProcessId(process), nullptr, nullptr)) {
        DWORD_PTR answer = 0;
        if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &answer)) {
            return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
        }
    }
    return false;
}

}  // namespace qarv::test
