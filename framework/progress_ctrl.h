// CProgressCtrl: a thin owner-less wrapper over a msctls_progress32 window bound by data exchange.
#pragma once

#include <windows.h>

class CProgressCtrl {
public:
    void Attach(HWND window) { m_hWnd = window; }
    HWND GetSafeHwnd() const { return m_hWnd; }

    void SetRange(int lower, int upper);  // PBM_SETRANGE: 16-bit bounds packed in lParam
    int SetPos(int position);             // returns the previous position
    int GetPos() const;

private:
    HWND m_hWnd = nullptr;
};
