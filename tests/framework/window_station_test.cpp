// Who can answer a box: session 0 (services, the system account) never can, whatever its window
// station says. No process under Wine runs in session 0, so the session comes through the seam;
// the station and the boxes are real.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>

#include "common/platform_calls.h"
#include "framework/app_resources.h"
#include "framework/window_station.h"
#include "res/resource_ids.h"
#include "tests/support/window_probe.h"

namespace {

DWORD g_session = 0;
BOOL WINAPI SessionAsTold(DWORD, DWORD* session) {
    *session = g_session;
    return TRUE;
}
BOOL WINAPI SessionUnreadable(DWORD, DWORD*) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

struct BoxOutcome {
    int answer = 0;
    bool boxSeen = false;
};

// Shows the setup error box on a thread of its own and answers any box that appears. Fails the
// test when the call has not returned within 20 s.
BoxOutcome ShowSetupError(bool noAllocation) {
    std::atomic<int> answer{0};
    std::thread caller([&] {
        answer = noAllocation ? qarv::AppMessageBoxNoAlloc(nullptr, IDS_SETUP_ERROR, MB_ICONHAND)
                              : qarv::AppMessageBox(nullptr, IDS_SETUP_ERROR, MB_ICONHAND);
    });
    BoxOutcome outcome;
    const bool returned = qarv::test::WaitUntil(
        [&] {
            const qarv::test::MessageBoxSeen box = qarv::test::WaitForMessageBox(GetCurrentProcessId(), 50);
            if (box.window != nullptr) {
                outcome.boxSeen = true;
                qarv::test::DismissMessageBox(box.window);
            }
            return answer != 0;
        },
        20000);
    EXPECT_TRUE(returned) << "the box call did not return";
    if (!returned) caller.detach();
    else caller.join();
    outcome.answer = answer;
    return outcome;
}

TEST(SomeoneToAnswer, SessionZeroShowsNoBoxAndAnswersAsTheOnlyButtonWould) {
    ASSERT_TRUE(qarv::WindowStationIsVisible()) << "the test runs on a visible station";
    qarv::PlatformCallsScope<qarv::WindowStationPlatformCalls> calls({SessionAsTold});
    for (const bool noAllocation : {false, true}) {
        SCOPED_TRACE(noAllocation ? "allocation-free box" : "box");
        g_session = 0;
        EXPECT_FALSE(qarv::SomeoneCanAnswer());
        BoxOutcome outcome = ShowSetupError(noAllocation);
        EXPECT_FALSE(outcome.boxSeen) << "nobody in session 0 can answer a box";
        EXPECT_EQ(outcome.answer, IDOK);

        // A user's session on the same station still gets the box.
        g_session = 1;
        EXPECT_TRUE(qarv::SomeoneCanAnswer());
        outcome = ShowSetupError(noAllocation);
        EXPECT_TRUE(outcome.boxSeen);
        EXPECT_EQ(outcome.answer, IDOK);
    }
    // A session that cannot be read is no reason to stay silent.
    calls.calls().processIdToSessionId = SessionUnreadable;
    EXPECT_TRUE(qarv::SomeoneCanAnswer());
}

}  // namespace
