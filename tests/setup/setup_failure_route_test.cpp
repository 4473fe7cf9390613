// The progress dialog's ends that no stage result reaches: an allocation failure on the worker
// whose report fails to allocate too, a worker thread that cannot start, and an exception while
// the dialog initialises. Each must end like a failed stage: message 500, then Cancel. Real
// dialog, real boxes; the stage table, the thread start and this program's operator new stand in
// for what Wine cannot be made to refuse.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>

#include "app/progress_dialog.h"
#include "common/platform_calls.h"
#include "framework/app_resources.h"
#include "framework/worker_thread.h"
#include "res/resource_ids.h"
#include "tests/support/window_probe.h"

using namespace qarv;

// Every allocation through operator new on the thread named here fails, as on a machine out of
// memory. 0: none fails.
std::atomic<DWORD> g_failAllocationsOnThread{0};

void* operator new(std::size_t size) {
    if (g_failAllocationsOnThread.load() == GetCurrentThreadId()) throw std::bad_alloc();
    if (void* block = std::malloc(size != 0 ? size : 1)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace {

using qarv::test::MessageBoxSeen;

struct Calls {
    std::atomic<int> restartRegistrations{0};
    std::atomic<int> removals{0};
    std::atomic<int> settingsReads{0};
};
Calls* g_calls = nullptr;
bool g_throwInRegistration = false;

int NotInstalled(SetupHost*) { return 0; }
void RegisterRestart() {
    ++g_calls->restartRegistrations;
    if (g_throwInRegistration) throw std::bad_alloc();
}
void RemoveWithNoMemoryLeft() {
    ++g_calls->removals;
    // From here on this thread cannot allocate at all.
    g_failAllocationsOnThread = GetCurrentThreadId();
    throw std::bad_alloc();
}
SetupSettings ReadSettings() {
    ++g_calls->settingsReads;
    return SetupSettings{};
}
WorkFolderStatus NoFolder(std::wstring&) { return kWorkFolderSystemCallFailed; }
int NoDrop(HMODULE, const wchar_t*, ProgressTarget*) { return 0; }
int NoExtraction(const wchar_t*, const wchar_t*, wchar_t*, std::vector<std::wstring>*) { return 0; }
int NoDigest(const wchar_t*, wchar_t*) { return 0; }
int NoLaunch(const wchar_t*) { return 0; }

const SetupStages kStages = {NotInstalled, RegisterRestart, RemoveWithNoMemoryLeft, ReadSettings, NoFolder,
                             NoDrop,       NoExtraction,    NoDigest,               NoLaunch};

uintptr_t RefuseThread(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned, unsigned*) {
    errno = EAGAIN;
    return 0;
}

class SetupFailureRouteTest : public ::testing::Test {
protected:
    void SetUp() override { g_calls = &m_calls; }
    void TearDown() override {
        g_failAllocationsOnThread = 0;
        g_throwInRegistration = false;
        g_calls = nullptr;
    }

    // Runs the dialog on this thread, answering and recording every box. A dialog that nobody
    // ends within 20 seconds is ended with -2 here, so a fault fails the test rather than hang it.
    INT_PTR RunDialog(MessageBoxSeen& box, int& boxes) {
        CQarv2009VURoruzDlg dialog(kStages);
        std::atomic<bool> done{false};
        boxes = 0;
        std::thread watcher([&] {
            const ULONGLONG deadline = GetTickCount64() + 20000;
            while (!done) {
                MessageBoxSeen seen = qarv::test::WaitForMessageBox(GetCurrentProcessId(), 100);
                if (seen.window != nullptr) {
                    if (boxes++ == 0) box = seen;
                    qarv::test::DismissMessageBox(seen.window);
                    qarv::test::WaitUntil([&] { return !IsWindow(seen.window); }, 5000);
                } else if (GetTickCount64() > deadline) {
                    dialog.EndModal(-2);
                    break;
                }
            }
        });
        const INT_PTR result = dialog.DoModal();
        done = true;
        watcher.join();
        return result;
    }

    void ExpectSetupErrorBox(const MessageBoxSeen& box, int boxes) {
        ASSERT_NE(box.window, nullptr);
        EXPECT_EQ(boxes, 1);
        EXPECT_EQ(box.text, qarv::LoadStringById(IDS_SETUP_ERROR));
        EXPECT_EQ(box.caption, qarv::ApplicationName());
        EXPECT_TRUE(box.stopIcon);
    }

    Calls m_calls;
};

TEST_F(SetupFailureRouteTest, WorkerOutOfMemoryReportsWithoutAllocatingAndCancels) {
    MessageBoxSeen box;
    int boxes = 0;
    EXPECT_EQ(RunDialog(box, boxes), IDCANCEL);
    ExpectSetupErrorBox(box, boxes);
    EXPECT_EQ(m_calls.removals, 1);
    EXPECT_EQ(m_calls.settingsReads, 0);
}

TEST_F(SetupFailureRouteTest, WorkerThatCannotStartEndsTheDialogWithTheSetupError) {
    qarv::PlatformCallsScope<qarv::WorkerThreadPlatformCalls> refusedThreads({RefuseThread});
    MessageBoxSeen box;
    int boxes = 0;
    EXPECT_EQ(RunDialog(box, boxes), IDCANCEL);
    ExpectSetupErrorBox(box, boxes);
    EXPECT_EQ(m_calls.restartRegistrations, 1) << "the restart value is written as for any failed stage";
    EXPECT_EQ(m_calls.removals, 0);

    // The real thread start runs the worker again.
    refusedThreads.calls().beginThread = nullptr;
    g_failAllocationsOnThread = 0;
    EXPECT_EQ(RunDialog(box, boxes), IDCANCEL);
    EXPECT_EQ(m_calls.removals, 1);
}

TEST_F(SetupFailureRouteTest, ExceptionWhileInitialisingEndsTheDialogWithTheSetupError) {
    g_throwInRegistration = true;
    MessageBoxSeen box;
    int boxes = 0;
    EXPECT_EQ(RunDialog(box, boxes), IDCANCEL);
    ExpectSetupErrorBox(box, boxes);
    EXPECT_EQ(m_calls.restartRegistrations, 1);
    EXPECT_EQ(m_calls.removals, 0) << "no worker starts after a failed initialisation";
}

}  // namespace
