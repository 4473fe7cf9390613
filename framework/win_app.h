// CWinApp: the application object. One instance per process; the entry point hands control to its
// start-up hook and the process ends when the hook returns.
#pragma once

#include <windows.h>

#include <string>

class CDialog;

class CWinApp {
public:
    CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    virtual ~CWinApp();

    // The start-up hook. The base records the instance and the application name and returns TRUE.
    // When the hook returns FALSE the program ends without a message loop of its own.
    virtual BOOL InitInstance();

    // Called after the start-up hook, also when the hook threw: returns the process exit code.
    // The base returns 0.
    virtual int ExitInstance();

    // Called by the entry point with its instance: runs the start-up hook and returns
    // ExitInstance's exit code.
    int Run(HINSTANCE instance);

    // The application name: the executable's file name without its extension.
    const std::wstring& AppName() const { return m_appName; }

    // The registry key name for per-user profile settings (recorded; this system stores none).
    void SetRegistryKey(const wchar_t* company) { m_registryKey = company ? company : L""; }
    const std::wstring& RegistryKey() const { return m_registryKey; }

    // The main window: the dialog that owns the application's message boxes while it runs.
    CDialog* m_pMainWnd = nullptr;

private:
    std::wstring m_appName;
    std::wstring m_registryKey;
};
