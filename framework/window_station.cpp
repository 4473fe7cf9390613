// Visibility of the process's window station.
#include "framework/window_station.h"

#include <versionhelpers.h>

#include "common/platform_calls.h"

namespace qarv {

bool WindowStationIsVisible() {
    // The station handle is the process's own: not closed.
    HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags{};
    if (station == nullptr || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), nullptr)) {
        return true;
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

bool SomeoneCanAnswer() {
    const auto processIdToSessionId =
        ReplacedOrReal(InstalledPlatformCalls<WindowStationPlatformCalls>().processIdToSessionId, &ProcessIdToSessionId);
    DWORD session = 0;
    // Before Vista the console user shared session 0 with the services.
    if (IsWindowsVistaOrGreater() && processIdToSessionId(GetCurrentProcessId(), &session) && session == 0) {
        return false;
    }
    return WindowStationIsVisible();
}

}  // namespace qarv
