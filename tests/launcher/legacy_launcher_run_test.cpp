// The real launcher on a machine with a running 2006 generation: it removes that generation before
// its setup sequence and installs the demo product; with trace output switched on by the settings,
// none of the termination's lines appears, since they are written before the settings are read.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/file_tree.h"
#include "tests/support/launcher_fixture.h"
#include "tests/support/previous_generation_layout.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/test_paths.h"

namespace {

namespace t = qarv::test;

class LauncherWithPreviousGeneration : public t::LauncherFixture {
protected:
    void TearDown() override {
        t::RemovePreviousGenerationLayout(m_generation);
        std::wstring installFolder;
        if (t::ReadHklmString(L"SOFTWARE\\Qarv", L"szQarvDir", installFolder)) {
            DeleteFileW((installFolder + L"\\Qarv2009.exe").c_str());
            DeleteFileW((installFolder + L"\\readme.txt").c_str());
            RemoveDirectoryW(installFolder.c_str());
        }
        t::LauncherFixture::TearDown();
    }

    t::PreviousGeneration m_generation;
};

TEST_F(LauncherWithPreviousGeneration, RemovesItThenInstallsWithoutTerminationTraceLines) {
    t::PreviousGenerationOptions options;
    options.folder = L"C:\\Program Files\\Velmora\\Qarv2006";
    options.standInFolder = t::ProgramFolder();
    const std::wstring error = t::InstallPreviousGeneration(options, m_generation);
    ASSERT_TRUE(error.empty()) << testing::PrintToString(error);
    t::SetHklmDword(L"SOFTWARE\\QarvSetup", L"fAllowDebugPrint", 1);

    const DWORD start = GetTickCount();
    t::LauncherRun run;
    ASSERT_NE(run.ProcessId(), 0u);
    DWORD exitCode = 0;
    const bool exited = run.WaitForExit(120000, &exitCode);
    if (!exited) {
        const t::MessageBoxSeen box = t::WaitForMessageBox(run.ProcessId(), 0);
        if (box.window != nullptr) t::DismissMessageBox(box.window);
        FAIL() << "the launcher did not end by itself; box: " << testing::PrintToString(box.text);
    }
    // The removal's own waits: three times two seconds.
    EXPECT_GE(GetTickCount() - start, 6000u);

    const std::vector<std::wstring> lines = run.TraceLines();
    bool sawSetupLine = false;
    for (const std::wstring& line : lines) {
        if (line.rfind(L"VURoruz: ", 0) == 0) sawSetupLine = true;
        for (const wchar_t* termination :
             {L"TryTerminateProcessW: ", L"Calling GetModuleFileNameEx", L"Module file name: ", L"Main module path: "}) {
            EXPECT_NE(line.rfind(termination, 0), 0u) << testing::PrintToString(line);
        }
    }
    EXPECT_TRUE(sawSetupLine) << "trace output was on, yet the setup wrote no line";

    EXPECT_EQ(WaitForSingleObject(m_generation.mainProgram.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(m_generation.updater.get(), 0), WAIT_OBJECT_0);
    for (const std::wstring& file : t::FilesToRemove(m_generation)) {
        EXPECT_FALSE(t::PathExists(file)) << testing::PrintToString(file);
    }
    for (const std::wstring& key : t::KeysToRemove()) {
        if (key != L"Software\\Qarv") {
            EXPECT_FALSE(t::MachineKeyExists(key)) << testing::PrintToString(key);
        }
    }
    EXPECT_FALSE(t::HklmValueExists(L"SOFTWARE\\Qarv", L"szQarv2006Dir"));
    EXPECT_FALSE(t::HklmValueExists(t::kRunKey, L"QarvFw"));
    EXPECT_FALSE(t::HklmValueExists(t::kRunKey, L"QLuPro"));
    EXPECT_TRUE(t::WaitUntil([] { return !t::ShellExtensionRegistered(); }, 20000));
    EXPECT_TRUE(t::PathExists(m_generation.desktopFolder + L"\\Qarv2006.lnk"));

    // Then the demo product was installed: it records its own folder under the key the removal
    // deleted.
    std::wstring installFolder;
    ASSERT_TRUE(t::WaitUntil([&] { return t::ReadHklmString(L"SOFTWARE\\Qarv", L"szQarvDir", installFolder); }, 30000));
    EXPECT_TRUE(t::WaitUntil([&] { return t::PathExists(installFolder + L"\\Qarv2009.exe"); }, 30000));
}

// A logoff or a kill can cut the removal short. Cut here after the shell extension's turn, while
// the updater is being stopped: the record of the folder must still be there, so that the next
// start finds the generation again and removes the updater too.
TEST_F(LauncherWithPreviousGeneration, RemovalCutShortIsFinishedByTheNextStart) {
    t::PreviousGenerationOptions options;
    options.folder = L"C:\\Program Files\\Velmora\\Qarv2006";
    options.standInFolder = t::ProgramFolder();
    const std::wstring error = t::InstallPreviousGeneration(options, m_generation);
    ASSERT_TRUE(error.empty()) << testing::PrintToString(error);

    {
        t::LauncherRun cut;
        ASSERT_NE(cut.ProcessId(), 0u);
        // The updater's window is told to close first thing in the updater's removal; its file
        // and Run value go four seconds later.
        ASSERT_EQ(WaitForSingleObject(m_generation.updater.get(), 60000), WAIT_OBJECT_0);
        cut.Terminate();
        ASSERT_TRUE(cut.WaitForExit(10000));
    }
    ASSERT_TRUE(t::PathExists(m_generation.updaterPath)) << "the kill came too late to cut the removal";
    EXPECT_TRUE(t::MachineValueExists(L"Software\\Qarv", L"szQarv2006Dir")) << "the record went before the updater";
    EXPECT_TRUE(t::MachineValueExists(t::kRunKey, L"QLuPro"));

    t::LauncherRun next;
    ASSERT_NE(next.ProcessId(), 0u);
    if (!next.WaitForExit(120000)) {
        const t::MessageBoxSeen box = t::WaitForMessageBox(next.ProcessId(), 0);
        if (box.window != nullptr) t::DismissMessageBox(box.window);
        FAIL() << "the launcher did not end by itself; box: " << testing::PrintToString(box.text);
    }
    EXPECT_FALSE(t::PathExists(m_generation.updaterPath));
    EXPECT_FALSE(t::MachineValueExists(t::kRunKey, L"QLuPro"));
    EXPECT_FALSE(t::MachineValueExists(L"Software\\Qarv", L"szQarv2006Dir"));
    for (const std::wstring& file : t::FilesToRemove(m_generation)) {
        EXPECT_FALSE(t::PathExists(file)) << testing::PrintToString(file);
    }
    // The setup went on to install the demo product; let it finish before the clean-up.
    std::wstring installFolder;
    ASSERT_TRUE(t::WaitUntil([&] { return t::ReadHklmString(L"SOFTWARE\\Qarv", L"szQarvDir", installFolder); }, 30000));
    EXPECT_TRUE(t::WaitUntil([&] { return t::PathExists(installFolder + L"\\Qarv2009.exe"); }, 30000));
}

}  // namespace
