// The progress dialog of the real launcher, as the person running the setup meets it.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "tests/support/launcher_fixture.h"
#include "tests/support/registry_fixture.h"

namespace {

using namespace qarv::test;

const std::wstring kStatusLabel = L"Kh\u1EDFi t\u1EA1o m\u00F4i tr\u01B0\u1EDDng";  // string 501
const std::wstring kCancelCaption = L"Hu\u1EF7 b\u1ECF";                                // string 512

class ProgressDialogTest : public LauncherFixture {
protected:
    void SetUp() override {
        LauncherFixture::SetUp();
        // Keep the dialog up long enough to watch it, whichever way the run goes: a pause after
        // the extraction when it succeeds, the error box when it does not.
        SetHklmDword(L"SOFTWARE\\QarvSetup", L"dwSleepTime", 30000);
        m_run = std::make_unique<LauncherRun>();
        m_processId = m_run->ProcessId();
        ASSERT_NE(m_processId, 0u);
        m_dialog = WaitForProgressDialog(m_processId, 20000);
        ASSERT_NE(m_dialog, nullptr) << "the progress dialog did not appear";
    }
    void TearDown() override {
        m_run.reset();  // ends the launcher
        LauncherFixture::TearDown();
    }
    bool StillOpen() { return IsWindow(m_dialog) && IsWindowVisible(m_dialog) && !m_run->WaitForExit(0); }

    std::unique_ptr<LauncherRun> m_run;
    DWORD m_processId = 0;
    HWND m_dialog = nullptr;
};

TEST_F(ProgressDialogTest, LooksAsItShouldAndCannotBeClosed) {
    EXPECT_EQ(WindowText(m_dialog), L"QarvPro 2009 Setup");
    const LONG style = GetWindowLongW(m_dialog, GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_FALSE(style & WS_SYSMENU) << "no system menu and no close box";
    EXPECT_TRUE(GetWindowLongW(m_dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW) << "a taskbar button";

    EXPECT_EQ(ControlText(m_dialog, 1000).substr(0, kStatusLabel.size()), kStatusLabel);
    HWND button = GetDlgItem(m_dialog, 1002);
    EXPECT_EQ(WindowText(button), kCancelCaption);
    EXPECT_FALSE(IsWindowEnabled(button));

    HWND bar = GetDlgItem(m_dialog, 1001);
    // The answer carries the limit asked for; no structure crosses the process boundary.
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, TRUE, 0), 0);
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 100);
    const int position = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
    EXPECT_GE(position, 0);
    EXPECT_LE(position, 90);

    PostKey(m_dialog, VK_ESCAPE);
    PostKey(m_dialog, VK_RETURN);
    PostAltF4(m_dialog);
    PostMessageW(m_dialog, WM_CLOSE, 0, 0);
    PostMessageW(m_dialog, WM_SYSCOMMAND, SC_CLOSE, 0);  // the taskbar's close command
    // Each attempt has had its effect once a marker posted behind it has reached the dialog's
    // thread. Two rounds: a key may post its close command only when it is handled (Alt+F4).
    for (const BOOL pushed : {TRUE, FALSE}) {
        PostMessageW(button, BM_SETSTATE, pushed, 0);
        const bool handled = WaitUntil(
            [&] {
                const bool seen = ((SendMessageW(button, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0) == (pushed != FALSE);
                return seen || !StillOpen();
            },
            10000);
        ASSERT_TRUE(handled) << "the dialog's thread did not reach the marker within 10 s";
        ASSERT_TRUE(StillOpen()) << "the user cannot close the dialog";
    }
}

TEST_F(ProgressDialogTest, LabelCyclesOneTwoThreeDots) {
    std::vector<std::wstring> shown{ControlText(m_dialog, 1000)};
    WaitUntil(
        [&] {
            const std::wstring text = ControlText(m_dialog, 1000);
            if (text != shown.back()) shown.push_back(text);
            return shown.size() >= 5;
        },
        8000);
    // Whatever the first sample caught, the ticks then run " .", " ..", " ...", " ." and so on.
    std::vector<std::wstring> ticks;
    for (const std::wstring& text : shown) {
        if (text.size() > kStatusLabel.size()) ticks.push_back(text.substr(kStatusLabel.size()));
        EXPECT_EQ(text.substr(0, kStatusLabel.size()), kStatusLabel);
    }
    ASSERT_GE(ticks.size(), 4u);
    const std::vector<std::wstring> cycle{L" .", L" ..", L" ..."};
    size_t start = 0;
    while (start < cycle.size() && cycle[start] != ticks[0]) ++start;
    ASSERT_LT(start, cycle.size()) << "unexpected label";
    for (size_t i = 0; i < ticks.size(); ++i) EXPECT_EQ(ticks[i], cycle[(start + i) % 3]) << i;
}

}  // namespace
