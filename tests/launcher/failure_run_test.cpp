// Runs of the real launcher whose payload makes a stage fail for real (a copy of the launcher
// carries other bytes as its payload): the error box with its caption, then the dialog ends and
// the process exits with the fatal-setup code; what the run wrote in its own work folder, and
// nothing else, is registered for deletion at reboot, and the restart value stays for the next
// logon.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <vector>

#include "payload/scramble_transform.h"
#include "tests/support/cabinet_handmade.h"

#include "tests/support/launcher_fixture.h"
#include "tests/support/registry_fixture.h"

using namespace qarv;

namespace {

using namespace qarv::test;

const std::wstring kSetupError = L"C\u00F3 l\u1ED7i trong qu\u00E1 tr\u00ECnh c\u00E0i \u0111\u1EB7t. B\u1EA1n h\u00E3y th\u1EED l\u1EA1i sau!";

class FailedRunTest : public LauncherFixture {
protected:
    // Runs a launcher carrying `payload` with the trace on; expects the setup error box, answers
    // it, and returns the trace once the launcher has ended.
    std::vector<std::wstring> RunExpectingTheSetupError(const std::string& payload) {
        SetHklmDword(L"SOFTWARE\\QarvSetup", L"fAllowDebugPrint", 1);
        LauncherRun run(CopyOfLauncher(&payload));
        const DWORD processId = run.ProcessId();
        EXPECT_NE(processId, 0u);
        EXPECT_NE(WaitForProgressDialog(processId, 20000), nullptr);

        const MessageBoxSeen box = WaitForMessageBox(processId, 30000);
        EXPECT_NE(box.window, nullptr) << "no error box";
        EXPECT_EQ(box.caption, L"QarvPro 2009 Setup");
        EXPECT_EQ(box.text, kSetupError);
        EXPECT_TRUE(box.anyIcon);  // which one is checked in process, where icon handles compare
        EXPECT_EQ(box.buttons.size(), 1u);
        if (box.window) DismissMessageBox(box.window);

        DWORD exitCode = 0;
        EXPECT_TRUE(run.WaitForExit(20000, &exitCode)) << "the launcher must end after the error box";
        EXPECT_EQ(exitCode, 1603u);
        EXPECT_TRUE(HklmValueExists(kRunKey, kRestartValueName)) << "the next logon tries again";
        const std::vector<std::wstring> lines = run.TraceLines();
        ExpectOnlyTheRunsOwnFolderRegistered(lines);
        return lines;
    }

    // The work folder is read from the trace's first line; every deletion lies inside it, the
    // folder comes last, and the container is among them.
    static void ExpectOnlyTheRunsOwnFolderRegistered(const std::vector<std::wstring>& lines) {
        const std::wstring prefix = L"VURoruz: Dropping file to ";
        const std::wstring suffix = L"\\qarv2009Setup.dat ...";
        ASSERT_FALSE(lines.empty());
        ASSERT_EQ(lines[0].rfind(prefix, 0), 0u);
        ASSERT_GT(lines[0].size(), prefix.size() + suffix.size());
        const std::wstring folder = lines[0].substr(prefix.size(), lines[0].size() - prefix.size() - suffix.size());
        const std::vector<std::wstring> pending = PendingDeletions();
        ASSERT_FALSE(pending.empty()) << "a failed run's leftovers must go at the next reboot";
        EXPECT_EQ(pending.back(), folder);
        bool containerSeen = false;
        for (size_t i = 0; i + 1 < pending.size(); ++i) {
            EXPECT_EQ(pending[i].rfind(folder + L"\\", 0), 0u) << "outside the run's folder: " << testing::PrintToString(pending[i]);
            containerSeen = containerSeen || pending[i] == folder + L"\\qarv2009Setup.dat";
        }
        EXPECT_TRUE(containerSeen);
    }
};

TEST_F(FailedRunTest, PayloadThatIsNoCabinetFailsTheExtraction) {
    const std::vector<std::wstring> lines = RunExpectingTheSetupError(std::string(10000, 'x'));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], L"VURoruz: Extracting file ...");
    EXPECT_EQ(lines[2], L"VURoruz: File extraction failed");
}

// The launcher's own payload, as its resource holds it (scrambled).
std::string PayloadOf(const std::wstring& launcher) {
    std::string bytes;
    HMODULE image = LoadLibraryExW(launcher.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (image == nullptr) return bytes;
    HRSRC info = FindResourceW(image, MAKEINTRESOURCEW(129), RT_RCDATA);
    if (info != nullptr) {
        const char* data = static_cast<const char*>(LockResource(LoadResource(image, info)));
        bytes.assign(data, SizeofResource(image, info));
    }
    FreeLibrary(image);
    return bytes;
}

TEST_F(FailedRunTest, TruncatedCabinetFailsTheExtraction) {
    // Chunks descramble independently, so cutting the payload on a chunk boundary cuts the
    // cabinet itself: its header is intact, its data ends early.
    const std::string payload = PayloadOf(LauncherPath());
    ASSERT_GT(payload.size(), 3 * 4096u);
    const std::vector<std::wstring> lines = RunExpectingTheSetupError(payload.substr(0, (payload.size() / 2) & ~size_t{4095}));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], L"VURoruz: File extraction failed");
}

// The first part of a cabinet set: its last file goes on in a next cabinet the launcher never
// opens. Before, the extraction asked for that cabinet again and again, at full CPU, for good.
TEST_F(FailedRunTest, CabinetThatContinuesInANextCabinetFailsTheExtraction) {
    std::vector<HandmadeCabinetFile> files = {{"readme.txt", "read me"}, {"setup.exe", std::string(5000, 's')}};
    files[1].folder = 0xFFFE;
    files[1].declaredSize = 9000;
    std::vector<unsigned char> cabinet = MakeHandmadeCabinet(files, {"", "", "qarv2.cab", "disk 2"});
    ScramblePayload(cabinet.data(), cabinet.size());
    const std::vector<std::wstring> lines = RunExpectingTheSetupError(std::string(cabinet.begin(), cabinet.end()));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], L"VURoruz: File extraction failed");
    // The file the extraction did create goes at reboot with the container.
    const std::vector<std::wstring> pending = PendingDeletions();
    EXPECT_NE(std::find_if(pending.begin(), pending.end(),
                           [](const std::wstring& path) { return path.size() > 11 && path.substr(path.size() - 11) == L"\\readme.txt"; }),
              pending.end());
}

}  // namespace
