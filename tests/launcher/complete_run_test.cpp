// A complete run on a clean machine, as the person running the setup meets it: the dialog, the
// bar up to 50 during the drop and then creeping on, the demo installer started, the container
// gone, the leftovers registered for the next reboot in order, the restart value present, and
// the process ending once the dialog has ended.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "tests/support/launcher_fixture.h"
#include "tests/support/registry_fixture.h"

namespace {

using namespace qarv::test;

using CompleteRunTest = LauncherFixture;

TEST_F(CompleteRunTest, CleanMachineInstallsAndRegistersTheLeftovers) {
    SetHklmDword(L"SOFTWARE\\QarvSetup", L"fAllowDebugPrint", 1);
    SetHklmDword(L"SOFTWARE\\QarvSetup", L"dwSleepTime", 3000);  // time to watch the bar creep
    LauncherRun run;
    HWND dialog = WaitForProgressDialog(run.ProcessId(), 20000);
    ASSERT_NE(dialog, nullptr);
    HWND bar = GetDlgItem(dialog, 1001);

    std::vector<int> positions;
    WaitUntil(
        [&] {
            DWORD_PTR position = 0;
            if (IsWindow(bar) && SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &position))
                positions.push_back(static_cast<int>(position));
            return run.WaitForExit(0);
        },
        90000);
    DWORD exitCode = 1;
    ASSERT_TRUE(run.WaitForExit(1000, &exitCode)) << "the launcher did not end";
    EXPECT_EQ(exitCode, 0u);

    ASSERT_FALSE(positions.empty());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end())) << "the bar never moves back";
    EXPECT_NE(std::find(positions.begin(), positions.end(), 50), positions.end()) << "the drop ends at 50";
    EXPECT_GT(positions.back(), 50) << "the progress timer creeps on after the drop";
    EXPECT_LT(positions.back(), 90);

    const std::vector<std::wstring> lines = run.TraceLines();
    ASSERT_EQ(lines.size(), 7u);
    const std::wstring dropping = L"VURoruz: Dropping file to ";
    const std::wstring container = lines[0].substr(dropping.size(), lines[0].size() - dropping.size() - 4);
    const std::wstring folder = container.substr(0, container.rfind(L'\\'));
    const std::wstring extracted = L"VURoruz: File successfully extracted to ";
    const std::wstring program = lines[2].substr(extracted.size());
    EXPECT_EQ(GetFileAttributesW(container.c_str()), INVALID_FILE_ATTRIBUTES) << "the container is deleted";
    EXPECT_NE(GetFileAttributesW(program.c_str()), INVALID_FILE_ATTRIBUTES);

    // Every file the extraction created, the program among them, then the container's path, then
    // the folder: after the next reboot nothing of the run is left.
    std::vector<std::wstring> pending = PendingDeletions();
    ASSERT_GE(pending.size(), 3u);
    EXPECT_EQ(pending.back(), folder);
    EXPECT_EQ(pending[pending.size() - 2], container);
    pending.resize(pending.size() - 2);
    EXPECT_NE(std::find(pending.begin(), pending.end(), program), pending.end());
    std::vector<std::wstring> inFolder;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) inFolder.push_back(folder + L"\\" + found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(pending.begin(), pending.end());
    std::sort(inFolder.begin(), inFolder.end());
    EXPECT_EQ(pending, inFolder);
    EXPECT_GE(inFolder.size(), 2u) << "the demo payload holds more than its program";
    EXPECT_TRUE(HklmValueExists(kRunKey, kRestartValueName));
    EXPECT_TRUE(WaitUntil([] { return HklmValueExists(L"SOFTWARE\\Qarv", L"szQarvDir"); }, 30000))
        << "the demo installer did not install the product";
}

}  // namespace
