// CQarv2009VURoruzApp: the application object. Its start-up runs the progress dialog and ends.
#pragma once

#include "framework/win_app.h"

// Registry key name for the framework's per-user profile settings; nothing is stored under it.
constexpr const wchar_t* kProfileRegistryKey = L"Local AppWizard-Generated Applications";

class CQarv2009VURoruzApp : public CWinApp {
public:
    // Registers the common controls, runs the progress dialog modally and returns FALSE, so that
    // the process ends when the dialog does.
    BOOL InitInstance() override;
};
