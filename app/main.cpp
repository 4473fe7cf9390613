// The launcher's entry point and its one application object.
#include <windows.h>

#include "app/dll_search.h"
#include "app/qarv_app.h"

qarv::CQarv2009VURoruzApp theApp;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    qarv::RestrictDllSearchToSystem();
    return theApp.Run(instance);
}
