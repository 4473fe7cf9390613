// The dialog framework on its own: strings, the application name, the modal loop and its ends,
// pre-translation, the progress control and the application object.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <new>
#include <thread>

#include "framework/app_resources.h"
#include "framework/dialog.h"
#include "framework/progress_ctrl.h"
#include "framework/win_app.h"
#include "framework/worker_thread.h"
#include "res/resource_ids.h"
#include "tests/support/window_probe.h"

namespace {

TEST(FrameworkStrings, LoadsByIdAndGivesEmptyForAMissingId) {
    EXPECT_EQ(qarv::LoadStringById(IDS_CANCEL_BUTTON), L"Hu\u1EF7 b\u1ECF");
    EXPECT_EQ(qarv::LoadStringById(IDS_INSTALLED_NOTICE_EN).find(L'\n'), 75u) << "one real line feed";
    EXPECT_EQ(qarv::LoadStringById(503), L"");
    EXPECT_EQ(qarv::LoadStringById(60000), L"");
}

TEST(FrameworkStrings, ApplicationNameIsTheExecutableWithoutExtension) {
    EXPECT_EQ(qarv::ApplicationName(), L"launcher_unit_tests");
}

// A dialog on the progress template that records what reaches it.
class ProbeDialog : public CDialog {
public:
    ProbeDialog() : CDialog(IDD_PROGRESS_DIALOG, nullptr) {}
    bool endDuringInit = false;
    std::atomic<bool> shown{false};
    std::atomic<int> preTranslatedKeys{0};
    CProgressCtrl bar;

    // Called from another thread: true once the modal loop has shown the window.
    bool WaitUntilShown() {
        return qarv::test::WaitUntil([this] { return GetSafeHwnd() != nullptr && shown; }, 10000);
    }

protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        if (endDuringInit) OnCancel();
        return TRUE;
    }
    void DoDataExchange() override { DDX_Control(IDC_PROGRESS_BAR, bar); }
    BOOL PreTranslateMessage(MSG* message) override {
        if (message->message == WM_KEYDOWN && message->wParam == 'Q') {
            ++preTranslatedKeys;
            return TRUE;
        }
        return CDialog::PreTranslateMessage(message);
    }
    bool OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT&) override {
        if (message == WM_SHOWWINDOW && wParam) shown = true;
        return false;
    }
};

TEST(FrameworkDialog, EndedFromAnotherThreadWithItsCode) {
    ProbeDialog dialog;
    std::thread ender([&] {
        if (!dialog.WaitUntilShown()) {
            ADD_FAILURE() << "the dialog was not shown within 10 s";
            if (dialog.GetSafeHwnd() != nullptr) dialog.EndModal(-2);
            return;
        }
        PostMessageW(dialog.GetSafeHwnd(), WM_KEYDOWN, 'Q', 0);
        // The key must have passed through the loop before the end, or the count below says nothing.
        EXPECT_TRUE(qarv::test::WaitUntil([&] { return dialog.preTranslatedKeys > 0; }, 10000));
        dialog.EndModal(4242);
    });
    EXPECT_EQ(dialog.DoModal(), 4242);
    ender.join();
    EXPECT_TRUE(dialog.shown);
    EXPECT_EQ(dialog.preTranslatedKeys, 1) << "queued messages pass through PreTranslateMessage";
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr) << "the window is gone after the modal run";
}

TEST(FrameworkDialog, EndedDuringInitialisationIsNeverShown) {
    ProbeDialog dialog;
    dialog.endDuringInit = true;
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_FALSE(dialog.shown);
}

TEST(FrameworkDialog, MissingTemplateFailsWithMinusOne) {
    class NoTemplate : public CDialog {
    public:
        NoTemplate() : CDialog(999, nullptr) {}
    } dialog;
    EXPECT_EQ(dialog.DoModal(), -1);
}

TEST(FrameworkProgress, RangeAndPositionThroughTheBoundBar) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    ProbeDialog dialog;
    std::thread checker([&] {
        if (!dialog.WaitUntilShown()) {
            ADD_FAILURE() << "the dialog was not shown within 10 s";
            if (dialog.GetSafeHwnd() != nullptr) dialog.EndModal(-2);
            return;
        }
        dialog.bar.SetRange(0, 100);
        EXPECT_EQ(dialog.bar.SetPos(37), 0);
        EXPECT_EQ(dialog.bar.GetPos(), 37);
        EXPECT_EQ(SendMessageW(dialog.bar.GetSafeHwnd(), PBM_GETRANGE, FALSE, 0), 100);
        dialog.OnOK();
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    checker.join();
}

TEST(FrameworkApplication, RunCallsTheStartUpHookAndEnds) {
    class App : public CWinApp {
    public:
        int calls = 0;
        BOOL InitInstance() override {
            CWinApp::InitInstance();
            SetRegistryKey(L"Local AppWizard-Generated Applications");
            ++calls;
            return FALSE;
        }
    } app;
    EXPECT_EQ(app.Run(GetModuleHandleW(nullptr)), 0);
    EXPECT_EQ(app.calls, 1);
    EXPECT_EQ(app.AppName(), L"launcher_unit_tests");
    EXPECT_EQ(app.RegistryKey(), L"Local AppWizard-Generated Applications");
}

TEST(FrameworkApplication, ExitInstanceGivesTheExitCodeEvenWhenStartUpThrows) {
    class App : public CWinApp {
    public:
        bool fail = false;
        BOOL InitInstance() override {
            if (fail) throw std::bad_alloc();
            return FALSE;
        }
        int ExitInstance() override { return fail ? 1603 : 112; }
    } app;
    EXPECT_EQ(app.Run(GetModuleHandleW(nullptr)), 112);
    app.fail = true;
    EXPECT_EQ(app.Run(GetModuleHandleW(nullptr)), 1603);
}

TEST(FrameworkWorker, StartsTheRoutineWithItsArgument) {
    static std::atomic<int> seen{0};
    int argument = 7;
    ASSERT_TRUE(qarv::StartWorkerThread(
        [](void* value) -> unsigned {
            seen = *static_cast<int*>(value);
            return 0;
        },
        &argument));
    EXPECT_TRUE(qarv::test::WaitUntil([] { return seen != 0; }, 10000)) << "the routine did not run within 10 s";
    EXPECT_EQ(seen, 7);
}

}  // namespace
