// The launcher's process exit codes: what a deployment tool reads to tell success from each
// failure. The numbers are part of the launcher's outside contract; never renumber one.
#pragma once

#include <windows.h>

namespace qarv {

// The installer was started.
constexpr int kExitInstallerStarted = 0;
// The product is already installed: nothing to do, which is success for a deployment tool.
constexpr int kExitProductInstalled = 0;
// A fatal setup error (message 500), and every end that was not recorded as one of the others:
// ERROR_INSTALL_FAILURE, which installation tools already read as "setup failed".
constexpr int kExitSetupFailed = 1603;
// Too little free disk space (message 506): ERROR_DISK_FULL.
constexpr int kExitDiskFull = 112;
// Another launcher is already running in this session, and this one stepped aside:
// ERROR_INSTALL_ALREADY_RUNNING, which deployment tools read as "try again later".
constexpr int kExitAnotherInstanceRunning = 1618;

// The exit code of a run that ended with error message `messageId` (a string-table id): the disk
// message gives kExitDiskFull, every other message kExitSetupFailed.
int ExitCodeForMessage(UINT messageId);

}  // namespace qarv
