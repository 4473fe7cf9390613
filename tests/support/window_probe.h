// Finding and driving the windows of another process, as a person at the screen would meet them:
// the progress dialog, its controls, and message boxes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qarv::test {

// Top-level windows of `processId` (0: any process) whose class and caption match (null: any).
std::vector<HWND> FindTopLevelWindows(DWORD processId, const wchar_t* className, const wchar_t* caption);

std::wstring WindowText(HWND window);
std::wstring ControlText(HWND dialog, int controlId);
std::wstring WindowClass(HWND window);

// A message box: a dialog-class window whose text sits in the static control 0xFFFF.
struct MessageBoxSeen {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
    bool anyIcon = false;          // an icon is shown
    bool stopIcon = false;         // the system's hand icon (boxes of this process only)
    bool informationIcon = false;  // the system's information icon (boxes of this process only)
    std::vector<std::wstring> buttons;
};

bool IsMessageBox(HWND window);

// Waits for a message box of `processId` to appear; window is null on time-out.
MessageBoxSeen WaitForMessageBox(DWORD processId, DWORD timeoutMs);

// Presses the box's OK button.
void DismissMessageBox(HWND box);

// Queued keyboard input to `window`, as the modal loop of its thread receives it.
void PostKey(HWND window, UINT virtualKey);
void PostAltF4(HWND window);

// True when the running `process` answers, within `timeoutMs`, a message sent now to one of its
// top-level windows. A termination issued before the call reaches the window's thread ahead of
// any message sent after it, so an answer also shows that none is on its way.
bool AnswersMessages(HANDLE process, DWORD timeoutMs);

// Polls `condition` every 20 ms until it holds or `timeoutMs` passes; returns its last value.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(20);
    }
}

}  // namespace qarv::test
