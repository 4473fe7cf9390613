// SetupHost: what the setup worker and the installed-product check need from the window that hosts
// the run. The progress dialog implements it; setup/ never sees the dialog class itself.
#pragma once

#include <windows.h>

#include "payload/progress_target.h"
#include "setup/setup_stages.h"

namespace qarv {

class SetupHost : public ProgressTarget {
public:
    // The window that owns the run's message boxes and its timers, and takes its posted messages.
    virtual HWND HostWindow() const = 0;
    // The stages the run calls.
    virtual const SetupStages& Stages() const = 0;
    // How the run ended, as the process exit code (setup/exit_codes.h). Callable from any thread.
    virtual void RecordOutcome(int exitCode) = 0;
    // Ends the run as the user's Cancel would. Callable from any thread; allocates nothing.
    virtual void CancelSetup() = 0;
    // The installed product's interface language: 0 Vietnamese notice, 1 English, else none.
    virtual void SetInterfaceLanguage(int language) = 0;

protected:
    ~SetupHost() = default;
};

}  // namespace qarv
