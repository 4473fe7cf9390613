// The progress dialog and the setup sequence in process: the real dialog class, real windows and
// message boxes, the real registry; only the stage table is replaced, so that each stage can be
// made to fail or succeed on demand.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <string>
#include <thread>

#include "app/progress_dialog.h"
#include "diag/trace.h"
#include "framework/app_resources.h"
#include "res/resource_ids.h"
#include "setup/exit_codes.h"
#include "setup/setup_worker.h"
#include "tests/support/file_tree.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/window_probe.h"

using namespace qarv;

namespace {

using qarv::test::MessageBoxSeen;

// What the fake stages do in one test, and what they saw. One test at a time uses it.
struct Scenario {
    int installed = 0;
    int interfaceLanguage = -1;  // set on the dialog when the fake check reports installed
    WorkFolderStatus folderStatus = kWorkFolderChosen;
    std::wstring folder;
    int dropResult = 1;
    int extractResult = 1;
    std::wstring programPath;
    int digestResult = 1;
    int launchResult = 1;
    std::atomic<int> restartRegistrations{0};
    std::atomic<int> drops{0};
    std::atomic<int> extractions{0};
    std::atomic<int> launches{0};
    int barAfterDrop = 50;
    bool extractWritesPartialFile = false;  // a failed extraction leaves "partial.bin" (and "stray.bin") behind
    bool extractThrows = false;             // after "partial.bin", as an allocation failure would
    SetupSettings settings;
    ULONGLONG extractedAt = 0;
    ULONGLONG digestedAt = 0;
};
Scenario* g_scenario = nullptr;

const SetupStages kFakeStages = {
    [](SetupHost* dialog) {
        if (g_scenario->installed && g_scenario->interfaceLanguage >= 0)
            dialog->SetInterfaceLanguage(g_scenario->interfaceLanguage);
        return g_scenario->installed;
    },
    [] { ++g_scenario->restartRegistrations; },
    [] {},
    [] { return g_scenario->settings; },
    [](std::wstring& folder) {
        folder = g_scenario->folder;
        return g_scenario->folderStatus;
    },
    [](HMODULE, const wchar_t* containerPath, ProgressTarget* dialog) {
        ++g_scenario->drops;
        if (g_scenario->dropResult) {
            HANDLE file = CreateFileW(containerPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            CloseHandle(file);
            SendMessageW(dialog->ProgressBarWindow(), PBM_SETPOS, g_scenario->barAfterDrop, 0);
        }
        return g_scenario->dropResult;
    },
    [](const wchar_t*, const wchar_t* folder, wchar_t* programPath, std::vector<std::wstring>* created) {
        ++g_scenario->extractions;
        if (g_scenario->extractWritesPartialFile) {
            const std::wstring partial = std::wstring(folder) + L"\\partial.bin";
            HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            CloseHandle(file);
            created->push_back(partial);
            // Not created by the extraction: never this run's to register, even inside its folder.
            file = CreateFileW((std::wstring(folder) + L"\\stray.bin").c_str(), GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, 0, nullptr);
            CloseHandle(file);
            if (g_scenario->extractThrows) throw std::bad_alloc();
        }
        g_scenario->extractedAt = GetTickCount64();
        lstrcpynW(programPath, g_scenario->programPath.c_str(), 260);
        if (g_scenario->extractResult) {
            // A payload of more than the program: a read-me beside it. The program the tests start
            // lies outside the folder, so the run did not create it.
            const std::wstring readme = std::wstring(folder) + L"\\readme.bin";
            HANDLE file = CreateFileW(readme.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            CloseHandle(file);
            created->push_back(readme);
        }
        return g_scenario->extractResult;
    },
    [](const wchar_t*, wchar_t* digest) {
        g_scenario->digestedAt = GetTickCount64();
        lstrcpyW(digest, L"900150983CD24FB0D6963F7D28E17F72");
        return g_scenario->digestResult;
    },
    [](const wchar_t*) {
        ++g_scenario->launches;
        return g_scenario->launchResult;
    },
};

std::wstring TempFolder(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + name;
}

class SetupSequenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_scenario = &m_scenario;
        TraceEnabled = 0;
        m_scenario.folder = TempFolder(L"qarv-sequence-test");
        RemoveFolder();
        // A real program for the success path: the extracted program is "started" for real.
        wchar_t system[MAX_PATH];
        GetSystemDirectoryW(system, MAX_PATH);
        m_program = std::wstring(system) + L"\\hostname.exe";
        m_scenario.programPath = m_program;
        qarv::test::ClearPendingFileRenames();
    }
    void TearDown() override {
        RemoveFolder();
        qarv::test::ClearPendingFileRenames();
        g_scenario = nullptr;
    }
    void RemoveFolder() {
        DeleteFileW((m_scenario.folder + L"\\qarv2009Setup.dat").c_str());
        DeleteFileW((m_scenario.folder + L"\\partial.bin").c_str());
        DeleteFileW((m_scenario.folder + L"\\stray.bin").c_str());
        DeleteFileW((m_scenario.folder + L"\\readme.bin").c_str());
        RemoveDirectoryW(m_scenario.folder.c_str());
        DeleteFileW(m_scenario.folder.c_str());
    }

    // Runs the dialog modally on this thread while another thread answers every message box that
    // appears meanwhile and records the first. Returns the dialog's end code. An unexpected box
    // thus fails the test instead of holding the dialog open.
    INT_PTR RunDialog(MessageBoxSeen* box = nullptr, int* outcome = nullptr) {
        std::atomic<bool> done{false};
        std::thread watcher([&] {
            bool recorded = false;
            while (!done) {
                MessageBoxSeen seen = qarv::test::WaitForMessageBox(GetCurrentProcessId(), 100);
                if (seen.window == nullptr) continue;
                if (!recorded && box) *box = seen;
                recorded = true;
                qarv::test::DismissMessageBox(seen.window);
                qarv::test::WaitUntil([&] { return !IsWindow(seen.window); }, 5000);
            }
        });
        CQarv2009VURoruzDlg dialog(kFakeStages);
        const INT_PTR result = dialog.DoModal();
        done = true;
        watcher.join();
        if (outcome) *outcome = dialog.Outcome();
        return result;
    }

    Scenario m_scenario;
    std::wstring m_program;
};

TEST_F(SetupSequenceTest, EveryFailingStageShowsItsMessageAndCancels) {
    struct Case {
        const char* name;
        WorkFolderStatus status;
        bool emptyFolder;
        bool uncreatableFolder;
        int drop;
        int extract;
        UINT message;
        int exitCode;
        bool throws = false;
    };
    const Case cases[] = {
        {"a system call failed", kWorkFolderSystemCallFailed, true, false, 1, 1, IDS_SETUP_ERROR, 1603},
        {"an undefined status", 4, true, false, 1, 1, IDS_SETUP_ERROR, 1603},
        {"no spare drive", kWorkFolderNoSpareDrive, true, false, 1, 1, IDS_DISK_SPACE_ERROR, 112},
        {"Windows drive full", kWorkFolderWindowsDriveFull, true, false, 1, 1, IDS_DISK_SPACE_ERROR, 112},
        {"chosen but empty", kWorkFolderChosen, true, false, 1, 1, IDS_SETUP_ERROR, 1603},
        {"folder cannot be created", kWorkFolderChosen, false, true, 1, 1, IDS_SETUP_ERROR, 1603},
        {"drop fails", kWorkFolderChosen, false, false, 0, 1, IDS_SETUP_ERROR, 1603},
        {"extraction fails", kWorkFolderChosen, false, false, 1, 0, IDS_SETUP_ERROR, 1603},
        {"an exception after the drop", kWorkFolderChosen, false, false, 1, 0, IDS_SETUP_ERROR, 1603, true},
    };
    const std::wstring goodFolder = m_scenario.folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_scenario.folderStatus = c.status;
        m_scenario.folder = c.emptyFolder ? L"" : c.uncreatableFolder ? goodFolder + L"\\no\\such\\parent" : goodFolder;
        m_scenario.dropResult = c.drop;
        m_scenario.extractResult = c.extract;
        m_scenario.launches = 0;
        m_scenario.extractWritesPartialFile = c.extract == 0;
        m_scenario.extractThrows = c.throws;
        qarv::test::ClearPendingFileRenames();

        MessageBoxSeen box;
        int outcome = -1;
        EXPECT_EQ(RunDialog(&box, &outcome), IDCANCEL);
        ASSERT_NE(box.window, nullptr);
        EXPECT_EQ(box.text, qarv::LoadStringById(c.message));
        EXPECT_EQ(box.caption, qarv::ApplicationName());
        EXPECT_TRUE(box.stopIcon);
        EXPECT_EQ(outcome, c.exitCode);
        EXPECT_EQ(m_scenario.launches, 0);
        const std::vector<std::wstring> pending = qarv::test::PendingDeletions();
        if (c.drop == 0 || c.extract == 0) {
            // The run made the folder: what it wrote there goes at reboot, the folder last.
            std::vector<std::wstring> expected;
            if (c.drop == 0) expected = {goodFolder};
            else expected = {goodFolder + L"\\partial.bin", goodFolder + L"\\qarv2009Setup.dat", goodFolder};
            std::vector<std::wstring> files(pending.begin(), pending.empty() ? pending.end() : pending.end() - 1);
            std::sort(files.begin(), files.end());
            files.push_back(pending.empty() ? L"" : pending.back());
            EXPECT_EQ(files, expected);
            if (c.extract == 0) {
                EXPECT_TRUE(qarv::test::PathExists(goodFolder + L"\\qarv2009Setup.dat")) << "deleted at reboot, not now";
            }
        } else {
            // No folder of this run's own: nothing at all, not even a folder of that name that
            // was already there.
            EXPECT_TRUE(pending.empty());
        }
        RemoveFolder();
    }
}

TEST_F(SetupSequenceTest, SuccessStartsTheProgramRegistersLeftoversAndEndsWithOk) {
    m_scenario.barAfterDrop = 50;
    m_scenario.settings.dwSleepTime = 700;
    MessageBoxSeen box;
    int outcome = -1;
    EXPECT_EQ(RunDialog(&box, &outcome), IDOK);
    EXPECT_EQ(box.window, nullptr) << "no box on success: " << std::string(box.text.begin(), box.text.end());
    EXPECT_EQ(outcome, kExitInstallerStarted);
    // Tick counts move in steps; allow one or two of them.
    EXPECT_GE(m_scenario.digestedAt - m_scenario.extractedAt, 650u) << "the pause comes between extraction and digest";
    EXPECT_EQ(m_scenario.restartRegistrations, 1);
    EXPECT_EQ(m_scenario.launches, 1);
    EXPECT_FALSE(qarv::test::PathExists(m_scenario.folder + L"\\qarv2009Setup.dat")) << "the container is deleted after extraction";

    // Every file the extraction created, in its order, then the container's path, then the folder;
    // nothing the run did not create, not even the program it started.
    EXPECT_EQ(qarv::test::PendingDeletions(),
              (std::vector<std::wstring>{m_scenario.folder + L"\\readme.bin", m_scenario.folder + L"\\qarv2009Setup.dat",
                                         m_scenario.folder}));
}

TEST_F(SetupSequenceTest, AFolderThatAlreadyExistsIsNeitherUsedNorRegistered) {
    ASSERT_TRUE(CreateDirectoryW(m_scenario.folder.c_str(), nullptr));
    const std::wstring theirs = m_scenario.folder + L"\\partial.bin";
    HANDLE file = CreateFileW(theirs.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(file);
    MessageBoxSeen box;
    int outcome = -1;
    EXPECT_EQ(RunDialog(&box, &outcome), IDCANCEL);
    EXPECT_EQ(box.text, qarv::LoadStringById(IDS_SETUP_ERROR));
    EXPECT_EQ(outcome, kExitSetupFailed);
    EXPECT_EQ(m_scenario.drops, 0);
    EXPECT_TRUE(qarv::test::PendingDeletions().empty()) << "a folder this run did not make is not its to remove";
    EXPECT_TRUE(qarv::test::PathExists(theirs));
}

TEST_F(SetupSequenceTest, FailedDigestAloneStillStartsTheProgramAndEndsWithOk) {
    m_scenario.digestResult = 0;
    int outcome = -1;
    MessageBoxSeen box;
    EXPECT_EQ(RunDialog(&box, &outcome), IDOK);
    EXPECT_EQ(box.window, nullptr);
    EXPECT_EQ(outcome, kExitInstallerStarted);
    EXPECT_EQ(m_scenario.launches, 1);
    EXPECT_EQ(qarv::test::PendingDeletions().size(), 3u);
}

TEST_F(SetupSequenceTest, NothingStartedByEitherRouteIsAFailedSetup) {
    m_scenario.launchResult = 0;
    // A path no route can start: the shell fallback fails too. It lies outside the work folder,
    // so the leftovers show that nothing outside the run's own folder is ever registered.
    m_scenario.programPath = L"C:\\no-such-folder\\setup.exe";
    MessageBoxSeen box;
    int outcome = -1;
    EXPECT_EQ(RunDialog(&box, &outcome), IDCANCEL);
    ASSERT_NE(box.window, nullptr) << "the user must hear that nothing was started";
    EXPECT_EQ(box.text, qarv::LoadStringById(IDS_SETUP_ERROR));
    EXPECT_TRUE(box.stopIcon);
    EXPECT_EQ(outcome, kExitSetupFailed);
    // The container was deleted after the extraction; the files the extraction created, then
    // the folder, are what is left.
    EXPECT_EQ(qarv::test::PendingDeletions(),
              (std::vector<std::wstring>{m_scenario.folder + L"\\readme.bin", m_scenario.folder}));
}

TEST_F(SetupSequenceTest, InstalledProductShowsTheNoticeOfItsLanguageAndNeverStartsTheSetup) {
    struct Case {
        int language;
        UINT notice;  // 0: no box at all
    };
    for (const Case& c : {Case{0, IDS_INSTALLED_NOTICE_VI}, Case{1, IDS_INSTALLED_NOTICE_EN}, Case{2, 0}}) {
        SCOPED_TRACE(c.language);
        m_scenario.installed = 1;
        m_scenario.interfaceLanguage = c.language;
        m_scenario.restartRegistrations = 0;
        m_scenario.drops = 0;
        MessageBoxSeen box;
        int outcome = -1;
        EXPECT_EQ(RunDialog(&box, &outcome), IDCANCEL);
        EXPECT_EQ(outcome, kExitProductInstalled) << "nothing to do is no failure";
        if (c.notice) {
            ASSERT_NE(box.window, nullptr);
            EXPECT_EQ(box.text, qarv::LoadStringById(c.notice));
            EXPECT_TRUE(box.informationIcon);
            EXPECT_EQ(box.caption, qarv::ApplicationName());
        } else {
            EXPECT_EQ(box.window, nullptr);
        }
        EXPECT_EQ(m_scenario.restartRegistrations, 0);
        EXPECT_EQ(m_scenario.drops, 0) << "no worker is started";
    }
}

TEST(SetupPause, InfiniteSettingIsCappedAndOthersKept) {
    EXPECT_EQ(SetupPauseMs(0), 0u);
    EXPECT_EQ(SetupPauseMs(5000), 5000u);
    EXPECT_EQ(SetupPauseMs(kMaxSetupPauseMs), kMaxSetupPauseMs);
    EXPECT_EQ(SetupPauseMs(INFINITE), kMaxSetupPauseMs) << "4294967295 must not stop the setup for good";
}

TEST(ProgressTimer, IntervalFollowsTheBarPosition) {
    EXPECT_EQ(ProgressTimerInterval(0), 166u);
    EXPECT_EQ(ProgressTimerInterval(50), 375u);
    EXPECT_EQ(ProgressTimerInterval(89), 15000u);
}

TEST(StatusLabel, TextThenOneSpaceThenTheDots) {
    EXPECT_EQ(StatusLabelText(L"Khởi tạo môi trường", 1), L"Khởi tạo môi trường .");
    EXPECT_EQ(StatusLabelText(L"", 3), L" ...");
}

}  // namespace
