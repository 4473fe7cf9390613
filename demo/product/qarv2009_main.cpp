// Qarv2009.exe of the demo payload: a stand-in for the installed product's main program. It only
// says what it is; the launcher's installed-product check looks for this file in the install folder.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    MessageBoxW(nullptr,
                L"QarvPro 2009 Internet Security (demo build).\n"
                L"This stand-in was installed by the launcher's demo payload.",
                L"Qarv2009", MB_ICONINFORMATION | MB_OK);
    return 0;
}
