// The application object's start-up.
#include "app/qarv_app.h"

#include <commctrl.h>

#include "app/progress_dialog.h"
#include "app/single_instance.h"

namespace qarv {

BOOL CQarv2009VURoruzApp::InitInstance() {
    const SingleInstanceGuard instance;
    if (instance.AnotherIsRunning()) {
        m_exitCode = kExitAnotherInstanceRunning;
        return FALSE;
    }

    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);

    CWinApp::InitInstance();
    SetRegistryKey(kProfileRegistryKey);

    CQarv2009VURoruzDlg dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    m_exitCode = dialog.Outcome();
    return FALSE;
}

}  // namespace qarv
