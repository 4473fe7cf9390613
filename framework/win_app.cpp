// CWinApp: the process's application object.
#include "framework/win_app.h"

#include "framework/app_resources.h"

namespace {
CWinApp* g_application = nullptr;  // the one application object, as the entry point needs it
}

CWinApp::CWinApp() { g_application = this; }

CWinApp::~CWinApp() {
    if (g_application == this) g_application = nullptr;
}

CWinApp* CWinApp::Current() { return g_application; }

BOOL CWinApp::InitInstance() {
    m_appName = qarv::ApplicationName();
    return TRUE;
}

int CWinApp::ExitInstance() { return 0; }

int CWinApp::Run(HINSTANCE instance) {
    m_instance = instance;
    try {
        InitInstance();
    } catch (...) {
        // Nothing may escape to the C runtime's entry: an allocation failure ends the program
        // quietly, as a returned FALSE would, and ExitInstance still decides the exit code.
    }
    return ExitInstance();
}
