// The free-upgrade notice dialog.
#include "app/message_dialog.h"

#include "framework/app_resources.h"
#include "res/resource_ids.h"

namespace qarv {

CMessageDlg::CMessageDlg(int oemEdition) : CDialog(IDD_NOTICE_DIALOG, nullptr), OemEdition(oemEdition) {}

BOOL CMessageDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // A shared system icon: not destroyed.
    const HICON icon = LoadIconW(nullptr, IDI_INFORMATION);
    SendMessageW(GetDlgItem(IDC_NOTICE_ICON), STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    SetDlgItemText(IDC_NOTICE_TEXT, qarv::LoadStringById(OemEdition != 0 ? IDS_UPGRADE_NOTICE_OEM : IDS_UPGRADE_NOTICE));
    // TRUE: the system puts the focus on the first tab stop, the continue button.
    return TRUE;
}

void CMessageDlg::OnCommand(WORD controlId, WORD notifyCode) {
    if (controlId == IDC_CONTINUE_BUTTON && notifyCode == BN_CLICKED) {
        OnOK();
        return;
    }
    CDialog::OnCommand(controlId, notifyCode);
}

}  // namespace qarv
