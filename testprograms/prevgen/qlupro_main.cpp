// Stand-in of the previous generation's updater: a window of class "QLiveUpdateClass" titled
// "QLiveUpdate" that ends the program when it receives WM_DESTROY.
// usage: QluPro.exe [--hang]   (--hang: the window stops responding when it receives WM_DESTROY)
#include <windows.h>

#include <cwchar>

namespace {

bool g_hangOnDestroy = false;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        if (g_hangOnDestroy) Sleep(INFINITE);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    g_hangOnDestroy = commandLine != nullptr && std::wcsstr(commandLine, L"--hang") != nullptr;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"QLiveUpdateClass";
    if (!RegisterClassW(&windowClass)) return 1;
    // Never shown: the updater runs in the background.
    HWND window = CreateWindowExW(0, L"QLiveUpdateClass", L"QLiveUpdate", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                  nullptr, instance, nullptr);
    if (window == nullptr) return 2;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
