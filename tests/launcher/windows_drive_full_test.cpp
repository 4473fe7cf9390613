// The real launcher on a Windows drive with under 512 MiB free: the disk-space message, and the
// disk-full exit code. windows_drive_full.sh gives C: a 64 MiB drive for this test; on a drive
// with room the test skips itself.
#include <gtest/gtest.h>

#include <windows.h>

#include "tests/support/hidden_window_station.h"
#include "tests/support/launcher_fixture.h"
#include "tests/support/registry_fixture.h"

namespace {

using namespace qarv::test;

const std::wstring kDiskSpaceError =
    L"Kh\u00F4ng \u0111\u1EE7 dung l\u01B0\u1EE3ng tr\u1ED1ng tr\u00EAn \u1ED5 \u0111\u0129a \u0111\u1EC3 th\u1EF1c "
    L"hi\u1EC7n c\u00E0i \u0111\u1EB7t. B\u1EA1n h\u00E3y th\u1EED l\u1EA1i sau!";

class WindowsDriveFull : public LauncherFixture {
protected:
    void SetUp() override {
        ULARGE_INTEGER available{};
        ASSERT_TRUE(GetDiskFreeSpaceExW(L"C:\\", &available, nullptr, nullptr));
        if (available.QuadPart >= (ULONGLONG{512} << 20)) {
            wchar_t told[8] = {};
            ASSERT_EQ(GetEnvironmentVariableW(L"QARV_SMALL_WINDOWS_DRIVE", told, 8), 0u)
                << "windows_drive_full.sh did not make C: small";
            GTEST_SKIP() << "C: has room; windows_drive_full.sh runs this test on a small drive";
        }
        LauncherFixture::SetUp();
    }
};

TEST_F(WindowsDriveFull, DiskSpaceMessageThenTheDiskFullExitCode) {
    {
        LauncherRun run;
        const MessageBoxSeen box = WaitForMessageBox(run.ProcessId(), 30000);
        ASSERT_NE(box.window, nullptr);
        EXPECT_EQ(box.text, kDiskSpaceError);
        DismissMessageBox(box.window);
        DWORD exitCode = 0;
        EXPECT_TRUE(run.WaitForExit(20000, &exitCode));
        EXPECT_EQ(exitCode, 112u);
    }
    EXPECT_TRUE(PendingDeletions().empty()) << "no work folder was made";
    EXPECT_TRUE(HklmValueExists(kRunKey, kRestartValueName)) << "the next logon tries again";

    // With nobody at the screen the same run ends by itself with the same code.
    HiddenWindowStation station;
    ASSERT_TRUE(station.Ready());
    DWORD exitCode = 0;
    ASSERT_TRUE(station.Run(LauncherPath(), 60000, exitCode)) << "the launcher waited for an answer";
    EXPECT_EQ(exitCode, 112u);
}

}  // namespace
