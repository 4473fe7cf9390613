// A setup cut off in the middle (the process killed, as a logoff or a crash would) leaves its
// restart value, and the next start completes the installation.
#include <gtest/gtest.h>

#include <windows.h>

#include "tests/support/launcher_fixture.h"
#include "tests/support/registry_fixture.h"

namespace {

using namespace qarv::test;

using InterruptedRunTest = LauncherFixture;

TEST_F(InterruptedRunTest, KilledDuringTheSetupThenTheNextStartCompletes) {
    {
        LauncherRun run;
        ASSERT_NE(WaitForProgressDialog(run.ProcessId(), 20000), nullptr);
        run.Terminate();
        ASSERT_TRUE(run.WaitForExit(20000));
    }
    EXPECT_TRUE(HklmValueExists(kRunKey, kRestartValueName)) << "the next logon must try again";
    EXPECT_FALSE(HklmValueExists(L"SOFTWARE\\Qarv", L"szQarvDir")) << "nothing was installed";

    SetHklmDword(L"SOFTWARE\\QarvSetup", L"fAllowDebugPrint", 1);
    LauncherRun next;
    ASSERT_NE(next.ProcessId(), 0u);
    DWORD exitCode = 1;
    ASSERT_TRUE(next.WaitForExit(90000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    const std::vector<std::wstring> lines = next.TraceLines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines.back(), L"VURoruz: Process created");
    EXPECT_TRUE(WaitUntil([] { return HklmValueExists(L"SOFTWARE\\Qarv", L"szQarvDir"); }, 30000))
        << "the demo installer did not install the product";
}

}  // namespace
