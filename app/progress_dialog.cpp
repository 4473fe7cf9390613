// The progress dialog.
#include "app/progress_dialog.h"

#include <commctrl.h>

#include "framework/app_resources.h"
#include "framework/worker_thread.h"
#include "res/resource_ids.h"
#include "setup/setup_worker.h"

namespace qarv {

std::wstring StatusLabelText(const std::wstring& base, int dotCount) {
    return base + L" " + std::wstring(static_cast<size_t>(dotCount), L'.');
}

CQarv2009VURoruzDlg::CQarv2009VURoruzDlg(const SetupStages& stages)
    : CDialog(IDD_PROGRESS_DIALOG, nullptr),
      m_hIcon(LoadIconW(qarv::ResourceModule(), MAKEINTRESOURCEW(IDI_APP_ICON))),
      m_stages(stages) {}

void CQarv2009VURoruzDlg::DoDataExchange() { DDX_Control(IDC_PROGRESS_BAR, m_progress); }

BOOL CQarv2009VURoruzDlg::PreTranslateMessage(MSG* message) {
    if (message->message == WM_KEYDOWN && message->wParam == VK_ESCAPE) return TRUE;
    return CDialog::PreTranslateMessage(message);
}

BOOL CQarv2009VURoruzDlg::OnInitDialog() {
    // Until the worker runs, nothing but this can end the dialog, and the user cannot close it: a
    // failure here ends it as a failed stage does.
    try {
        return InitialiseAndStartWorker();
    } catch (...) {
        FailSetup(this, IDS_SETUP_ERROR);
        return TRUE;
    }
}

BOOL CQarv2009VURoruzDlg::InitialiseAndStartWorker() {
    CDialog::OnInitDialog();
    SendMessageW(GetSafeHwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(GetSafeHwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    if (m_stages.isProductInstalled(this)) {
        RecordOutcome(kExitProductInstalled);
        if (m_interfaceLanguage == 0) {
            qarv::AppMessageBox(GetSafeHwnd(), IDS_INSTALLED_NOTICE_VI, MB_ICONINFORMATION);
        } else if (m_interfaceLanguage == 1) {
            qarv::AppMessageBox(GetSafeHwnd(), IDS_INSTALLED_NOTICE_EN, MB_ICONINFORMATION);
        }
        OnCancel();
        return TRUE;
    }
    m_stages.registerRestart();

    m_progress.SetRange(0, 100);
    m_progress.SetPos(0);
    SetDlgItemText(IDC_STATUS_LABEL, qarv::LoadStringById(IDS_STATUS_LABEL));
    SetDlgItemText(IDC_CANCEL_BUTTON, qarv::LoadStringById(IDS_CANCEL_BUTTON));

    SetTimer(GetSafeHwnd(), kLabelTimerId, 1000, nullptr);
    // The worker takes its argument as a SetupHost*: convert before the pointer loses its type.
    if (!qarv::StartWorkerThread(SetupWorkerProc, static_cast<SetupHost*>(this))) FailSetup(this, IDS_SETUP_ERROR);
    return TRUE;
}

void CQarv2009VURoruzDlg::OnCommand(WORD, WORD) {
    // OK and Cancel come only from the worker. A command from the keyboard (Enter reaches the
    // disabled default button as IDOK) must not end the dialog under a running worker.
}

bool CQarv2009VURoruzDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    switch (message) {
        case WM_PAINT:
            if (!IsIconic(GetSafeHwnd())) return false;
            PaintIconic();
            result = 0;
            return true;
        case WM_QUERYDRAGICON:
            result = reinterpret_cast<LRESULT>(m_hIcon);
            return true;
        case WM_TIMER:
            if (wParam == kLabelTimerId) OnLabelTimer();
            else if (wParam == kProgressTimerId) OnProgressTimer();
            return false;  // the default timer handling runs after either
        case WM_SETUP_FINISHED:
            RecordOutcome(kExitInstallerStarted);
            Sleep(100);
            OnOK();
            result = 0;
            return true;
        case WM_CLOSE:
            result = 0;
            return true;
        default:
            return false;
    }
}

void CQarv2009VURoruzDlg::OnLabelTimer() {
    const std::wstring text = StatusLabelText(qarv::LoadStringById(IDS_STATUS_LABEL), m_labelDotCount);
    if (++m_labelDotCount > 3) m_labelDotCount = 1;
    SetDlgItemText(IDC_STATUS_LABEL, text);
}

void CQarv2009VURoruzDlg::OnProgressTimer() {
    const int position = m_progress.GetPos();
    if (position < kProgressCeiling) m_progress.SetPos(position + 1);
}

void CQarv2009VURoruzDlg::PaintIconic() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(GetSafeHwnd(), &paint);
    SendMessageW(GetSafeHwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(GetSafeHwnd(), &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(GetSafeHwnd(), &paint);
}

}  // namespace qarv
