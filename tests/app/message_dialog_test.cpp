// The free-upgrade notice dialog, run modally on this thread while a second thread reads its
// controls and ends it the way a user would: the button, Enter, Escape, the close box.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "app/message_dialog.h"
#include "framework/app_resources.h"
#include "res/resource_ids.h"
#include "tests/support/window_probe.h"

using namespace qarv;

namespace {

namespace t = qarv::test;

struct NoticeSeen {
    bool found = false;
    std::wstring caption;
    std::wstring text;
    std::wstring button;
    bool informationIcon = false;
    bool buttonHasFocus = false;
};

// Runs the dialog modally; `probe` gets its window once it is visible and then ends it its own way.
// A dialog that never shows is ended after a time-out, so the test fails instead of hanging.
INT_PTR RunNotice(CMessageDlg& dialog, NoticeSeen& seen, const std::function<void(HWND)>& finish) {
    const DWORD guiThread = GetCurrentThreadId();
    std::thread probe([&] {
        HWND window = nullptr;
        t::WaitUntil(
            [&] {
                window = nullptr;
                for (HWND candidate : t::FindTopLevelWindows(GetCurrentProcessId(), L"#32770", L"QarvPro 2009")) {
                    if (IsWindowVisible(candidate) && GetWindowThreadProcessId(candidate, nullptr) == guiThread) {
                        window = candidate;
                    }
                }
                return window != nullptr;
            },
            10000);
        if (window == nullptr) {
            dialog.EndModal(-2);
            return;
        }
        seen.found = true;
        seen.caption = t::WindowText(window);
        seen.text = t::ControlText(window, IDC_NOTICE_TEXT);
        seen.button = t::ControlText(window, IDC_CONTINUE_BUTTON);
        const HICON shown =
            reinterpret_cast<HICON>(SendMessageW(GetDlgItem(window, IDC_NOTICE_ICON), STM_GETICON, 0, 0));
        seen.informationIcon = shown != nullptr && shown == LoadIconW(nullptr, IDI_INFORMATION);
        GUITHREADINFO info = {};
        info.cbSize = sizeof(info);
        GetGUIThreadInfo(guiThread, &info);
        seen.buttonHasFocus = info.hwndFocus == GetDlgItem(window, IDC_CONTINUE_BUTTON);
        finish(window);
    });
    const INT_PTR result = dialog.DoModal();
    probe.join();
    return result;
}

TEST(NoticeDialog, PlainEditionShowsString505AndTheInformationIcon) {
    CMessageDlg dialog(0);
    NoticeSeen seen;
    const INT_PTR result = RunNotice(dialog, seen, [](HWND window) {
        PostMessageW(GetDlgItem(window, IDC_CONTINUE_BUTTON), BM_CLICK, 0, 0);
    });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(seen.caption, L"QarvPro 2009");
    EXPECT_EQ(seen.text, L"Bạn được miễn phí nâng cấp lên phiên bản mới QarvPro 2009 Internet Security");
    EXPECT_EQ(seen.button, L"Tiếp tục");
    EXPECT_TRUE(seen.informationIcon);
    EXPECT_TRUE(seen.buttonHasFocus);
}

TEST(NoticeDialog, OemEditionShowsString504) {
    CMessageDlg dialog(1);
    EXPECT_EQ(dialog.OemEdition, 1);
    NoticeSeen seen;
    const INT_PTR result = RunNotice(dialog, seen, [](HWND window) { t::PostKey(GetDlgItem(window, IDC_CONTINUE_BUTTON), VK_RETURN); });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(result, IDOK);  // Enter presses the default button
    EXPECT_EQ(seen.text, qarv::LoadStringById(IDS_UPGRADE_NOTICE_OEM));
    EXPECT_EQ(seen.text, L"Bạn được miễn phí nâng cấp lên phiên bản mới QarvPro 2009 Internet Security OEM");
}

TEST(NoticeDialog, EscapeAndTheCloseBoxCancel) {
    for (int way = 0; way < 2; ++way) {
        CMessageDlg dialog;
        NoticeSeen seen;
        const INT_PTR result = RunNotice(dialog, seen, [way](HWND window) {
            if (way == 0) t::PostKey(GetDlgItem(window, IDC_CONTINUE_BUTTON), VK_ESCAPE);
            else PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        });
        ASSERT_TRUE(seen.found) << way;
        EXPECT_EQ(result, IDCANCEL) << way;
    }
}

}  // namespace
