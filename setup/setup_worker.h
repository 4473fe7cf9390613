// The setup worker: the body of the one background thread, which runs the whole setup sequence.
#pragma once

#include <windows.h>

namespace qarv {

class SetupHost;

// WM_USER + 10: posted to the dialog once the sequence has finished successfully.
constexpr UINT WM_SETUP_FINISHED = WM_USER + 10;

// Timer on the dialog window that creeps the bar towards kProgressCeiling after the drop.
constexpr UINT_PTR kProgressTimerId = 200;
// Where the creeping bar stops; it never reaches the end on its own.
constexpr int kProgressCeiling = 90;

// Longest pause taken from dwSleepTime. 4294967295 would otherwise be an infinite wait.
constexpr DWORD kMaxSetupPauseMs = 300000;

// The pause after the extraction for a dwSleepTime setting: the setting, capped.
DWORD SetupPauseMs(DWORD sleepTimeSetting);

// Thread routine: `dialog` is the progress dialog as its SetupHost*, borrowed. Removes the previous generation, then
// runs the sequence. Returns 0; with a null argument it does nothing.
unsigned __stdcall SetupWorkerProc(void* dialog);

// The end of every failed stage: the error box `messageId` over the dialog, on the calling thread,
// then the dialog's Cancel operation. Allocates nothing and throws nothing.
void FailSetup(SetupHost* dialog, UINT messageId) noexcept;

// The sequence: settings, work folder, drop, extraction, digest, launch, reboot deletions. Ends by
// posting WM_SETUP_FINISHED, or by an error box over the dialog followed by its Cancel operation,
// with the message's exit code recorded on the dialog; a failure after the work folder was
// created first registers what the run put there for deletion at reboot. Nothing started (both
// launch routes failed) is such a failure. Does not touch the dialog afterwards.
void RunSetupSequence(SetupHost* dialog);

// The progress timer interval for bar position p (below kProgressCeiling): 15000 / (kProgressCeiling - p)
// milliseconds.
UINT ProgressTimerInterval(int position);

}  // namespace qarv
