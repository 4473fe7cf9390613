// Stand-in of the previous generation's main program: one top-level window of class "Qarv2006",
// then a message loop until the window is destroyed or the process is ended.
// usage: Qarv2006.exe [window title]   (default "Qarv2006 Antivirus")
#include <windows.h>

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_PAINT) {
        // Its title in the client area, so that a screenshot shows which program this is even
        // where the window manager draws no frame.
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        wchar_t title[260] = {};
        GetWindowTextW(window, title, 260);
        RECT client;
        GetClientRect(window, &client);
        DrawTextW(dc, title, -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    const wchar_t* title = (commandLine != nullptr && commandLine[0] != L'\0') ? commandLine : L"Qarv2006 Antivirus";
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"Qarv2006";
    if (!RegisterClassW(&windowClass)) return 1;
    HWND window = CreateWindowExW(0, L"Qarv2006", title, WS_OVERLAPPEDWINDOW, 40, 40, 320, 160, nullptr, nullptr,
                                  instance, nullptr);
    if (window == nullptr) return 2;
    ShowWindow(window, SW_SHOWNOACTIVATE);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
