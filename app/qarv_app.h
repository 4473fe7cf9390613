// CQarv2009VURoruzApp: the application object. Its start-up runs the progress dialog and ends.
#pragma once

#include "framework/win_app.h"
#include "setup/exit_codes.h"

namespace qarv {

// Registry key name for the framework's per-user profile settings; nothing is stored under it.
constexpr const wchar_t* kProfileRegistryKey = L"Local AppWizard-Generated Applications";

class CQarv2009VURoruzApp : public CWinApp {
public:
    // Steps aside at once, without a window or a box, when another launcher runs in this session;
    // otherwise registers the common controls and runs the progress dialog modally. Returns FALSE,
    // so that the process ends when the dialog does.
    BOOL InitInstance() override;

    // The run's outcome (setup/exit_codes.h): the dialog's, kExitAnotherInstanceRunning, or
    // kExitSetupFailed when the start-up ended before the dialog recorded one.
    int ExitInstance() override { return m_exitCode; }

private:
    int m_exitCode = kExitSetupFailed;
};

}  // namespace qarv
