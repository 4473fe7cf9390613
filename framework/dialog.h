// CDialog: a template-based modal dialog with its own modal loop, message dispatch through virtual
// handlers, data exchange, pre-translation of queued messages and a thread-safe end.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

class CProgressCtrl;

class CDialog {
public:
    CDialog(UINT templateId, HWND parent);
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;
    virtual ~CDialog();

    // Creates the dialog from its template in the resource module, runs the modal loop until
    // EndModal is called, destroys the window and returns the end code (-1 if the window could
    // not be created). A dialog ended during its initialisation is never shown.
    INT_PTR DoModal();

    HWND GetSafeHwnd() const { return m_hWnd; }

    // The framework's OK and Cancel operations: end the modal run with IDOK or IDCANCEL.
    // Safe to call from any thread.
    virtual void OnOK();
    virtual void OnCancel();

    // Ends the modal run with `result`. Safe to call from any thread; the GUI thread's loop wakes
    // up, leaves, and destroys the window there.
    void EndModal(INT_PTR result);

    void SetDlgItemText(int controlId, const std::wstring& text);
    HWND GetDlgItem(int controlId) const;

protected:
    // Base initialisation: runs the data exchange. Returns TRUE to let the system set the focus.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange() {}
    void DDX_Control(int controlId, CProgressCtrl& control);

    // Sees every queued message of the modal loop first; TRUE means handled, no dispatch.
    virtual BOOL PreTranslateMessage(MSG* message);

    // The message map. Return true when the message is handled and `result` is the answer;
    // false lets the system's default dialog handling run.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    // WM_COMMAND: by default IDOK runs OnOK and IDCANCEL runs OnCancel.
    virtual void OnCommand(WORD controlId, WORD notifyCode);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void RunModalLoop();

    UINT m_templateId;
    HWND m_parent;
    std::atomic<HWND> m_hWnd{nullptr};  // read by the worker thread (EndModal, message boxes)
    std::atomic<bool> m_modalEnded{false};
    std::atomic<INT_PTR> m_modalResult{-1};
};
