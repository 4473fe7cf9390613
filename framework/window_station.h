// Whether anyone can see the process's windows: a service, or the system account in session 0,
// runs on a window station that is not visible, where a message box would wait for nobody.
#pragma once

namespace qarv {

// True when the process's window station is visible (WSF_VISIBLE), and also when that cannot be
// read: a box where someone might answer beats a silent end. Allocation-free, so any failure path
// may ask.
bool WindowStationIsVisible();

}  // namespace qarv
