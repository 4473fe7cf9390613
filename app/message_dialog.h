// CMessageDlg: the free-upgrade notice on template 131, an information icon, one line of text and
// a continue button. No step of the setup shows it.
#pragma once

#include <windows.h>

#include "framework/dialog.h"

namespace qarv {

class CMessageDlg : public CDialog {
public:
    // `oemEdition` non-zero selects the OEM wording (string 504), zero the plain one (505).
    explicit CMessageDlg(int oemEdition = 0);
    ~CMessageDlg() override = default;

    int OemEdition;

protected:
    void DoDataExchange() override {}
    BOOL OnInitDialog() override;
    // Button 1004 ends the dialog with IDOK; Escape and the close box reach Cancel (IDCANCEL).
    void OnCommand(WORD controlId, WORD notifyCode) override;
};

}  // namespace qarv
