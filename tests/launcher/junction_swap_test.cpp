// The user's TEMP reached through a junction the user owns, repointed at a folder of the user's
// own once the launcher has extracted its installer: the elevated launcher must still digest and
// start what it extracted, in the folder it made, and register only that folder's files.
// junction_swap.sh lays out the link and repoints it when asked; run alone, the test skips itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/installed_temp_folder.h"
#include "tests/support/launcher_fixture.h"
#include "tests/support/registry_fixture.h"

namespace {

using namespace qarv::test;

const std::wstring kExtracted = L"VURoruz: File successfully extracted to ";
const std::wstring kExecuting = L"VURoruz: Executing ";

std::wstring SwapRoot() {
    wchar_t root[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"QARV_SWAP_ROOT", root, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(root, length) : std::wstring();
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

class JunctionSwap : public LauncherFixture {
protected:
    void SetUp() override {
        m_root = SwapRoot();
        if (m_root.empty()) GTEST_SKIP() << "junction_swap.sh runs this test with its link laid out";
        LauncherFixture::SetUp();
    }

    // At the extraction's trace line, while the launcher waits in it: the user's own program under
    // the same names in B, then the link repointed from A to B.
    void PlantAndRepoint(const std::wstring& line) {
        if (!StartsWith(line, kExtracted) || m_repointed) return;
        const std::wstring program = line.substr(kExtracted.size());
        const size_t name = program.find_last_of(L'\\');
        const size_t folder = program.find_last_of(L'\\', name - 1);
        if (name == std::wstring::npos || folder == std::wstring::npos) return;
        const std::wstring theirs = m_root + L"\\B\\t" + program.substr(folder, name - folder);
        CreateDirectoryW(theirs.c_str(), nullptr);
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, MAX_PATH);
        // A program that installs nothing: if it runs, the product's record never appears.
        m_planted = CopyFileW((std::wstring(system) + L"\\hostname.exe").c_str(),
                              (theirs + program.substr(name)).c_str(), FALSE) != FALSE;
        HANDLE request = CreateFileW((m_root + L"\\swap-now").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (request != INVALID_HANDLE_VALUE) CloseHandle(request);
        m_repointed = WaitUntil([this] { return GetFileAttributesW((m_root + L"\\swapped").c_str()) != INVALID_FILE_ATTRIBUTES; },
                                30000);
    }

    std::wstring m_root;
    bool m_planted = false;
    bool m_repointed = false;
};

TEST_F(JunctionSwap, RepointedJunctionAboveTheWorkFolderLeadsTheRunNowhereElse) {
    SetHklmDword(L"SOFTWARE\\QarvSetup", L"fAllowDebugPrint", 1);
    TemporaryFolderOverride temporary(m_root + L"\\j\\t");
    DWORD exitCode = 1;
    std::vector<std::wstring> lines;
    {
        LauncherRun run(LauncherPath(), 120000, [this](const std::wstring& line) { PlantAndRepoint(line); });
        ASSERT_TRUE(run.WaitForExit(90000, &exitCode)) << "the launcher did not end";
        lines = run.TraceLines();
    }
    ASSERT_TRUE(m_planted) << "the user's program could not be put in place";
    ASSERT_TRUE(m_repointed) << "the link was not repointed during the run";
    EXPECT_EQ(exitCode, 0u);

    // The run names its folder by the folder's own path, which no link leads through.
    const std::wstring held = m_root + L"\\A\\t\\";
    ASSERT_EQ(lines.size(), 7u);
    for (const std::wstring& line : lines) {
        EXPECT_EQ(line.find(m_root + L"\\j\\"), std::wstring::npos) << std::string(line.begin(), line.end());
    }
    EXPECT_TRUE(StartsWith(lines[4], kExecuting + held)) << std::string(lines[4].begin(), lines[4].end());
    for (const std::wstring& path : PendingDeletions()) {
        EXPECT_TRUE(StartsWith(path, held)) << std::string(path.begin(), path.end());
    }
    EXPECT_TRUE(WaitUntil([] { return HklmValueExists(L"SOFTWARE\\Qarv", L"szQarvDir"); }, 30000))
        << "the launcher did not start the installer it extracted";
}

}  // namespace
