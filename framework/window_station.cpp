// Visibility of the process's window station.
#include "framework/window_station.h"

#include <windows.h>

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

}  // namespace qarv
