// Whether anyone can see the process's windows: a service, or the system account in session 0,
// runs where a message box would wait for nobody.
#pragma once

#include <windows.h>

namespace qarv {

// True when the process's window station is visible (WSF_VISIBLE), and also when that cannot be
// read: a box where someone might answer beats a silent end. Allocation-free, so any failure path
// may ask.
bool WindowStationIsVisible();

// True when someone may answer a box: the process runs outside session 0 on a visible window
// station. Session 0 holds services and the system account (startup scripts, deployment agents),
// where nobody sees a box even when the station says it is visible. A session that cannot be read
// counts as one with someone there. Allocation-free.
bool SomeoneCanAnswer();

// The platform calls a test may replace (common/platform_calls.h): the session, as no test
// process under Wine runs in session 0. Null: the real call.
struct WindowStationPlatformCalls {
    BOOL(WINAPI* processIdToSessionId)(DWORD, DWORD*) = nullptr;
};

}  // namespace qarv
