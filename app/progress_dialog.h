// CQarv2009VURoruzDlg: the progress dialog, the system's only window in a normal run. The user
// cannot close it; it ends when the setup worker asks (OK after WM_SETUP_FINISHED, or Cancel).
#pragma once

#include <windows.h>

#include <atomic>

#include "framework/dialog.h"
#include "framework/progress_ctrl.h"
#include "setup/exit_codes.h"
#include "setup/setup_host.h"
#include "setup/setup_stages.h"

namespace qarv {

// Timer on the dialog window that animates the status label.
constexpr UINT_PTR kLabelTimerId = 100;

class CQarv2009VURoruzDlg : public CDialog, public SetupHost {
public:
    explicit CQarv2009VURoruzDlg(const SetupStages& stages = RealSetupStages());

    HWND ProgressBarWindow() const override { return m_progress.GetSafeHwnd(); }
    HWND HostWindow() const override { return GetSafeHwnd(); }
    const SetupStages& Stages() const override { return m_stages; }
    void CancelSetup() override { OnCancel(); }

    // How the run ended, as the process exit code (setup/exit_codes.h). Until a run records
    // otherwise it is kExitSetupFailed, so that every end not recorded as a success or as another
    // failure (a box over a cancelled dialog, a dialog that could not start) reports a failed
    // setup. Written by the worker thread or the GUI thread, read after the modal run.
    int Outcome() const { return m_outcome; }
    void RecordOutcome(int exitCode) override { m_outcome = exitCode; }

    // The installed product's interface language: 0 Vietnamese notice, 1 English, else none.
    int InterfaceLanguage() const { return m_interfaceLanguage; }
    void SetInterfaceLanguage(int language) override { m_interfaceLanguage = language; }

protected:
    void DoDataExchange() override;
    BOOL PreTranslateMessage(MSG* message) override;
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnCommand(WORD controlId, WORD notifyCode) override;

private:
    BOOL InitialiseAndStartWorker();
    void OnLabelTimer();
    void OnProgressTimer();
    void PaintIconic();

    HICON m_hIcon;
    CProgressCtrl m_progress;
    int m_interfaceLanguage = 0;
    // Dots the next label tick appends: 1, 2, 3, 1, ... Touched only on the GUI thread.
    int m_labelDotCount = 1;
    const SetupStages m_stages;
    std::atomic<int> m_outcome{kExitSetupFailed};
};

// The label's dot run for `dotCount` dots: string 501, a space and the dots.
std::wstring StatusLabelText(const std::wstring& base, int dotCount);

}  // namespace qarv
