// The launcher's exit codes as a deployment tool reads them, from the real launcher: a second
// launcher steps aside, nothing startable is a failed setup, and on a window station nobody can
// see no box waits: the exit code alone carries the outcome.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <vector>

#include "payload/scramble_transform.h"
#include "tests/support/hidden_window_station.h"
#include "tests/support/launcher_fixture.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/cabinet_handmade.h"

using namespace qarv;

namespace {

using namespace qarv::test;

constexpr DWORD kSetupFailed = 1603;
constexpr DWORD kAnotherInstanceRunning = 1618;

const std::wstring kSetupError = L"C\u00F3 l\u1ED7i trong qu\u00E1 tr\u00ECnh c\u00E0i \u0111\u1EB7t. B\u1EA1n h\u00E3y th\u1EED l\u1EA1i sau!";

// The payload resource for a cabinet holding `files`: scrambled as the packer does.
std::string PayloadFor(const std::vector<HandmadeCabinetFile>& files) {
    std::vector<unsigned char> cabinet = MakeHandmadeCabinet(files);
    ScramblePayload(cabinet.data(), cabinet.size());
    return std::string(cabinet.begin(), cabinet.end());
}

// A payload that is no cabinet: the extraction fails.
const std::string kDamagedPayload(10000, 'x');

class ExitCodeTest : public LauncherFixture {
protected:
    void TearDown() override {
        DeleteHklmValue(L"SOFTWARE\\Qarv", L"szQarvDir");
        if (!m_productFolder.empty()) {
            DeleteFileW((m_productFolder + L"\\Qarv2009.exe").c_str());
            RemoveDirectoryW(m_productFolder.c_str());
        }
        LauncherFixture::TearDown();
    }

    // An installed product as the check sees it: szQarvDir naming a folder with Qarv2009.exe.
    void InstallProduct() {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_productFolder = std::wstring(temp) + L"qarv-exit-code-product";
        CreateDirectoryW(m_productFolder.c_str(), nullptr);
        HANDLE file = CreateFileW((m_productFolder + L"\\Qarv2009.exe").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
        SetHklmString(L"SOFTWARE\\Qarv", L"szQarvDir", m_productFolder);
        SetHklmDword(L"SOFTWARE\\Qarv", L"fGiaoDien", 0);
    }

    std::wstring m_productFolder;
};

TEST_F(ExitCodeTest, SecondLauncherInTheSessionStepsAsideAtOnceWithoutAWindow) {
    // The first launcher waits at its error box, so it is still running when the second starts.
    const std::wstring launcher = CopyOfLauncher(&kDamagedPayload);
    SetHklmDword(L"SOFTWARE\\QarvSetup", L"fAllowDebugPrint", 1);
    LauncherRun first(launcher);
    const MessageBoxSeen box = WaitForMessageBox(first.ProcessId(), 30000);
    ASSERT_NE(box.window, nullptr);

    for (const std::wstring& program : {launcher, LauncherPath()}) {
        SCOPED_TRACE(testing::PrintToString(program));
        LauncherRun second(program);
        ASSERT_NE(second.ProcessId(), 0u);
        DWORD exitCode = 0;
        EXPECT_TRUE(second.WaitForExit(20000, &exitCode)) << "the second launcher must not wait for anything";
        EXPECT_EQ(exitCode, kAnotherInstanceRunning);
        EXPECT_TRUE(second.TraceLines().empty()) << "it must not have begun a setup";
    }
    EXPECT_TRUE(IsWindow(box.window)) << "the first launcher goes on undisturbed";

    DismissMessageBox(box.window);
    DWORD exitCode = 0;
    EXPECT_TRUE(first.WaitForExit(20000, &exitCode));
    EXPECT_EQ(exitCode, kSetupFailed);

    // Once the first has ended, the next launcher runs again.
    LauncherRun next(launcher);
    const MessageBoxSeen nextBox = WaitForMessageBox(next.ProcessId(), 30000);
    ASSERT_NE(nextBox.window, nullptr) << "the guard outlived its launcher";
    DismissMessageBox(nextBox.window);
    EXPECT_TRUE(next.WaitForExit(20000, &exitCode));
    EXPECT_EQ(exitCode, kSetupFailed);
}

// A payload whose last file is no program: neither the process start nor the shell can start it.
TEST_F(ExitCodeTest, NothingStartedByEitherRouteShowsTheSetupErrorAndFails) {
    const std::string payload = PayloadFor({{"readme.txt", "read me"}, {"notes.qqq", "no program"}});
    SetHklmDword(L"SOFTWARE\\QarvSetup", L"fAllowDebugPrint", 1);
    LauncherRun run(CopyOfLauncher(&payload));
    const MessageBoxSeen box = WaitForMessageBox(run.ProcessId(), 30000);
    ASSERT_NE(box.window, nullptr) << "the user must hear that nothing was started";
    EXPECT_EQ(box.text, kSetupError);
    DismissMessageBox(box.window);
    DWORD exitCode = 0;
    EXPECT_TRUE(run.WaitForExit(20000, &exitCode));
    EXPECT_EQ(exitCode, kSetupFailed);
    EXPECT_TRUE(HklmValueExists(kRunKey, kRestartValueName)) << "the next logon tries again";

    const std::vector<std::wstring> lines = run.TraceLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[lines.size() - 2].rfind(L"VURoruz: ShellExecuting ", 0), 0u);
    EXPECT_EQ(lines.back().rfind(L"VURoruz: ShellExecute return ", 0), 0u);
    // Both extracted files and the folder go at the next reboot; the container was already deleted.
    const std::wstring extracted = L"VURoruz: File successfully extracted to ";
    std::wstring program;
    for (const std::wstring& line : lines) {
        if (line.rfind(extracted, 0) == 0) program = line.substr(extracted.size());
    }
    ASSERT_FALSE(program.empty());
    const std::wstring folder = program.substr(0, program.find_last_of(L'\\'));
    std::vector<std::wstring> pending = PendingDeletions();
    ASSERT_EQ(pending.size(), 3u);
    EXPECT_EQ(pending.back(), folder);
    pending.pop_back();
    std::sort(pending.begin(), pending.end());
    EXPECT_EQ(pending, (std::vector<std::wstring>{folder + L"\\notes.qqq", folder + L"\\readme.txt"}));
}

// A service, or the system account in session 0, has a window station nobody sees.
class HiddenStationTest : public ExitCodeTest {
protected:
    void SetUp() override {
        ExitCodeTest::SetUp();
        ASSERT_TRUE(m_station.Ready()) << GetLastError();
        ASSERT_EQ(m_station.Flags() & WSF_VISIBLE, 0u) << "the test station must not be visible";
    }
    HiddenWindowStation m_station;
};

TEST_F(HiddenStationTest, FailedSetupEndsWithoutWaitingForAnAnswer) {
    const std::wstring launcher = CopyOfLauncher(&kDamagedPayload);
    DWORD exitCode = 0;
    // A box would wait for good; the bound fails the test instead.
    ASSERT_TRUE(m_station.Run(launcher, 60000, exitCode)) << "the launcher waited for an answer";
    EXPECT_EQ(exitCode, kSetupFailed);
    EXPECT_TRUE(HklmValueExists(kRunKey, kRestartValueName)) << "the next logon tries again";
    EXPECT_FALSE(PendingDeletions().empty()) << "the failed run's leftovers go at reboot";
}

TEST_F(HiddenStationTest, InstalledProductEndsWithoutTheNoticeAsSuccess) {
    InstallProduct();
    SetHklmString(kRunKey, kRestartValueName, L"\"C:\\earlier\\QarvPro 2009 Setup.exe\"");
    DWORD exitCode = 1;
    ASSERT_TRUE(m_station.Run(LauncherPath(), 60000, exitCode)) << "the launcher waited for an answer";
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(HklmValueExists(kRunKey, kRestartValueName));
}

}  // namespace
