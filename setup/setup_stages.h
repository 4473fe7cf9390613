// The operations the progress dialog and the setup worker call, as a table. The product runs the
// real ones; a test may hand the dialog a table with some replaced to make a stage fail.
// Deliberately not a platform-call table (common/platform_calls.h): these are the setup's own
// stages, not system calls, and each dialog holds its copy by value, so a test's table lives and
// dies with its dialog and nothing process-wide is left to restore.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "diag/settings.h"
#include "setup/work_folder.h"

namespace qarv {

class ProgressTarget;
class SetupHost;

struct SetupStages {
    int (*isProductInstalled)(SetupHost* host);
    void (*registerRestart)();
    void (*removePreviousGeneration)();
    SetupSettings (*loadSetupSettings)();
    WorkFolderStatus (*chooseWorkFolder)(std::wstring& folder);
    int (*dropPayload)(HMODULE module, const wchar_t* containerPath, ProgressTarget* dialog);
    // `created` receives each file the extraction creates, as ExtractCabinet's does.
    int (*extractCabinet)(const wchar_t* containerPath, const wchar_t* workFolder, wchar_t* programPath,
                          std::vector<std::wstring>* created);
    int (*computeFileMd5)(const wchar_t* path, wchar_t* digestText);
    int (*launchInstaller)(const wchar_t* programPath);
};

// The table of the real operations.
const SetupStages& RealSetupStages();

}  // namespace qarv
