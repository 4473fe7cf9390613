// CWinApp: the process's application object.
#include "framework/win_app.h"

#include "framework/app_resources.h"

CWinApp::CWinApp() = default;

CWinApp::~CWinApp() = default;

BOOL CWinApp::InitInstance() {
    m_appName = qarv::ApplicationName();
    return TRUE;
}

int CWinApp::ExitInstance() { return 0; }

int CWinApp::Run(HINSTANCE) {
    try {
        InitInstance();
    } catch (...) {
        // Nothing may escape to the C runtime's entry: an allocation failure ends the program
        // quietly, as a returned FALSE would, and ExitInstance still decides the exit code.
    }
    return ExitInstance();
}
