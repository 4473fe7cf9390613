// CProgressCtrl: every call is a message sent to the bar, so it also works from another thread.
#include "framework/progress_ctrl.h"

#include <commctrl.h>

void CProgressCtrl::SetRange(int lower, int upper) {
    SendMessageW(m_hWnd, PBM_SETRANGE, 0, MAKELPARAM(lower, upper));
}

int CProgressCtrl::SetPos(int position) {
    return static_cast<int>(SendMessageW(m_hWnd, PBM_SETPOS, static_cast<WPARAM>(position), 0));
}

int CProgressCtrl::GetPos() const { return static_cast<int>(SendMessageW(m_hWnd, PBM_GETPOS, 0, 0)); }
