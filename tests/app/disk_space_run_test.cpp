// A Windows drive too full for the setup, with the real stages throughout: the progress dialog
// shows the disk-space message and ends. Wine cannot report the exact free space the routes turn
// on, so the free-space call alone is replaced.
#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

#include "app/progress_dialog.h"
#include "common/platform_calls.h"
#include "framework/app_resources.h"
#include "res/resource_ids.h"
#include "setup/exit_codes.h"
#include "setup/work_folder.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/window_probe.h"

using namespace qarv;

namespace {

// Free bytes on the Windows drive; every other drive has less than a spare drive needs.
ULONGLONG g_freeBytes = 0;

BOOL WINAPI FakeFreeSpace(LPCWSTR root, PULARGE_INTEGER available, PULARGE_INTEGER total, PULARGE_INTEGER free) {
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    const bool windowsDrive = CompareStringOrdinal(root, 2, windows, 2, TRUE) == CSTR_EQUAL;
    const ULONGLONG bytes = windowsDrive ? g_freeBytes : ULONGLONG{200} << 20;
    if (available) available->QuadPart = bytes;
    if (total) total->QuadPart = 0;
    if (free) free->QuadPart = bytes;
    return TRUE;
}

class DiskSpaceRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        qarv::test::DeleteHklmTree(L"SOFTWARE\\Qarv");  // a machine without the product
        qarv::test::ClearPendingFileRenames();
    }
    void TearDown() override { qarv::test::DeleteHklmValue(qarv::test::kRunKey, L"QarvPro2009Setup"); }

    qarv::PlatformCallsScope<WorkFolderPlatformCalls> m_fakeFreeSpace{{FakeFreeSpace}};
};

TEST_F(DiskSpaceRunTest, TooLittleRoomShowsTheDiskSpaceMessageAndEnds) {
    // Below 512 MiB on the Windows drive; and 512 MiB to 1 GiB with no other drive that has room.
    for (ULONGLONG freeBytes : {ULONGLONG{100} << 20, ULONGLONG{700} << 20}) {
        SCOPED_TRACE(freeBytes);
        g_freeBytes = freeBytes;
        qarv::test::MessageBoxSeen box;
        std::thread watcher([&] {
            box = qarv::test::WaitForMessageBox(GetCurrentProcessId(), 20000);
            if (box.window) qarv::test::DismissMessageBox(box.window);
        });
        CQarv2009VURoruzDlg dialog;
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
        watcher.join();
        EXPECT_EQ(dialog.Outcome(), kExitDiskFull);
        ASSERT_NE(box.window, nullptr);
        EXPECT_EQ(box.text, qarv::LoadStringById(IDS_DISK_SPACE_ERROR));
        EXPECT_TRUE(box.stopIcon);
        EXPECT_TRUE(qarv::test::PendingFileRenames().empty());
    }
}

}  // namespace
