// CDialog: the modal loop is the framework's own (not DialogBoxParam's), so queued messages pass
// through PreTranslateMessage before IsDialogMessage sees them.
#include "framework/dialog.h"

#include "framework/app_resources.h"
#include "framework/progress_ctrl.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

// Copies the template and clears WS_VISIBLE in the copy, so that the window stays hidden until the
// initialisation is over and a dialog ended there is never drawn.
std::vector<BYTE> LoadHiddenTemplate(UINT templateId) {
    HMODULE module = qarv::ResourceModule();
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(templateId), reinterpret_cast<LPCWSTR>(RT_DIALOG));
    if (info == nullptr) return {};
    const DWORD size = SizeofResource(module, info);
    HGLOBAL loaded = LoadResource(module, info);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (bytes == nullptr || size < sizeof(DLGTEMPLATE)) return {};

    std::vector<BYTE> copy(static_cast<const BYTE*>(bytes), static_cast<const BYTE*>(bytes) + size);
    // An extended template starts with version 1 and signature 0xFFFF; its style sits after the
    // help id and the extended style.
    WORD version = 0, signature = 0;
    std::memcpy(&version, copy.data(), sizeof(WORD));
    std::memcpy(&signature, copy.data() + sizeof(WORD), sizeof(WORD));
    const size_t styleOffset = (version == 1 && signature == 0xFFFF) ? 12 : 0;
    if (copy.size() < styleOffset + sizeof(DWORD)) return {};
    DWORD style = 0;
    std::memcpy(&style, copy.data() + styleOffset, sizeof(DWORD));
    const DWORD hidden = style & ~static_cast<DWORD>(WS_VISIBLE);
    std::memcpy(copy.data() + styleOffset, &hidden, sizeof(DWORD));
    return copy;
}

}  // namespace

CDialog::CDialog(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}

CDialog::~CDialog() {
    if (m_hWnd != nullptr) DestroyWindow(m_hWnd);
}

INT_PTR CDialog::DoModal() {
    m_modalEnded = false;
    m_modalResult = -1;

    std::vector<BYTE> dialogTemplate = LoadHiddenTemplate(m_templateId);
    if (dialogTemplate.empty()) return -1;

    HWND window = CreateDialogIndirectParamW(qarv::ResourceModule(),
                                             reinterpret_cast<LPCDLGTEMPLATEW>(dialogTemplate.data()),
                                             m_parent, DialogProc, reinterpret_cast<LPARAM>(this));
    if (window == nullptr) return -1;

    if (!m_modalEnded) {
        // A modal dialog is always shown once its initialisation is over, as DialogBox does,
        // whether or not its template asks for WS_VISIBLE.
        ShowWindow(window, SW_SHOWNORMAL);
        UpdateWindow(window);
        RunModalLoop();
    }

    DestroyWindow(window);
    m_hWnd = nullptr;
    return m_modalResult.load();
}

void CDialog::RunModalLoop() {
    MSG message;
    while (!m_modalEnded) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            // Hand WM_QUIT back to whoever runs the outer loop, and end this one.
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (!PreTranslateMessage(&message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

void CDialog::EndModal(INT_PTR result) {
    // Read before the end is published: from then on the GUI thread may leave its loop, destroy
    // the window and this object, while a worker thread is still in here.
    const HWND window = m_hWnd;
    m_modalResult = result;
    m_modalEnded = true;
    // Wake the GUI thread's GetMessage, wherever EndModal was called from.
    if (window != nullptr) PostMessageW(window, WM_NULL, 0, 0);
}

void CDialog::OnOK() { EndModal(IDOK); }

void CDialog::OnCancel() { EndModal(IDCANCEL); }

void CDialog::SetDlgItemText(int controlId, const std::wstring& text) {
    ::SetDlgItemTextW(m_hWnd, controlId, text.c_str());
}

HWND CDialog::GetDlgItem(int controlId) const { return ::GetDlgItem(m_hWnd, controlId); }

BOOL CDialog::OnInitDialog() {
    DoDataExchange();
    return TRUE;
}

void CDialog::DDX_Control(int controlId, CProgressCtrl& control) { control.Attach(GetDlgItem(controlId)); }

BOOL CDialog::PreTranslateMessage(MSG* message) { return IsDialogMessageW(m_hWnd, message); }

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

void CDialog::OnCommand(WORD controlId, WORD) {
    if (controlId == IDOK) OnOK();
    else if (controlId == IDCANCEL) OnCancel();
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->m_hWnd = window;
    } else {
        self = reinterpret_cast<CDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    if (self == nullptr) return FALSE;
    // No exception may cross the window procedure: an allocation failure in a handler ends that
    // handler and leaves the message to the default handling.
    try {
        return self->Dispatch(message, wParam, lParam);
    } catch (...) {
        return FALSE;
    }
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_NCDESTROY:
            m_hWnd = nullptr;
            return FALSE;
        default:
            break;
    }
    LRESULT result = 0;
    if (!OnMessage(message, wParam, lParam, result)) return FALSE;
    switch (message) {
        // These answer through the procedure's own return value, not DWLP_MSGRESULT.
        case WM_QUERYDRAGICON:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
            return static_cast<INT_PTR>(result);
        default:
            SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, static_cast<LONG_PTR>(result));
            return TRUE;
    }
}
