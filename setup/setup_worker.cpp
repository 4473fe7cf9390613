// The setup worker thread.
#include "setup/setup_worker.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "res/resource_ids.h"
#include "diag/trace.h"
#include "framework/app_resources.h"
#include "payload/cabinet_extractor.h"
#include "payload/file_digest.h"
#include "setup/exit_codes.h"
#include "setup/installer_launch.h"
#include "setup/run_leftovers.h"
#include "setup/setup_host.h"
#include "setup/work_folder.h"

void FailSetup(SetupHost* dialog, UINT messageId) noexcept {
    dialog->RecordOutcome(ExitCodeForMessage(messageId));
    // Allocation-free, because it also reports an allocation failure.
    qarv::AppMessageBoxNoAlloc(dialog->HostWindow(), messageId, MB_ICONHAND);
    dialog->CancelSetup();
}

namespace {

// What this run created in its work folder: each file the extraction created, and the container
// while a file is at its path. The folder is held open, so the path still leads into it.
std::vector<std::wstring> RunFiles(const std::wstring& containerPath, const std::vector<std::wstring>& extracted) {
    std::vector<std::wstring> files = extracted;
    const DWORD attributes = GetFileAttributesW(containerPath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        files.push_back(containerPath);
    }
    return files;
}

// A failure once this run has created `workFolder`: what the run put there goes at the next
// reboot. Registered before the box, so that a run ended while the box waits still leaves it so;
// `folderHold` is let go only after that, and before the box.
void FailSetupInWorkFolder(SetupHost* dialog, UINT messageId, const std::wstring& workFolder,
                           const std::vector<std::wstring>& files, qarv::UniqueFile& folderHold) {
    RegisterRunLeftoversForReboot(workFolder, files);
    folderHold.reset();
    FailSetup(dialog, messageId);
}

}  // namespace

DWORD SetupPauseMs(DWORD sleepTimeSetting) { return std::min(sleepTimeSetting, kMaxSetupPauseMs); }

UINT ProgressTimerInterval(int position) {
    const int remaining = kProgressCeiling - position;
    return remaining > 0 ? static_cast<UINT>(15000 / remaining) : 15000u;
}

unsigned __stdcall SetupWorkerProc(void* argument) {
    auto* dialog = static_cast<SetupHost*>(argument);
    if (dialog == nullptr) return 0;
    try {
        // Runs before the settings are read, so its trace lines are never written.
        dialog->Stages().removePreviousGeneration();
        RunSetupSequence(dialog);
    } catch (...) {
        // An allocation failure must not take the process down with a half-run setup and a
        // dialog nobody can close: report it like any other failed stage. FailSetup allocates
        // nothing, so a second failure cannot escape the thread from here.
        FailSetup(dialog, IDS_SETUP_ERROR);
    }
    return 0;
}

void RunSetupSequence(SetupHost* dialog) {
    const SetupStages& stages = dialog->Stages();
    const SetupSettings settings = stages.loadSetupSettings();

    std::wstring workFolder;
    const WorkFolderStatus status = stages.chooseWorkFolder(workFolder);
    if (status == kWorkFolderNoSpareDrive || status == kWorkFolderWindowsDriveFull) {
        FailSetup(dialog, IDS_DISK_SPACE_ERROR);
        return;
    }
    if (status != kWorkFolderChosen || workFolder.empty()) {
        FailSetup(dialog, IDS_SETUP_ERROR);
        return;
    }

    // The temporary-name route leaves an empty placeholder file under the folder's name.
    DeleteFileW(workFolder.c_str());
    // Creation fails when the folder already exists, so from here on the folder is this run's own;
    // the handle keeps it so (no rename, no swap) until the installer has started or the run failed.
    qarv::UniqueFile folderHold = CreateAndHoldWorkFolder(workFolder);
    if (!folderHold) {
        FailSetup(dialog, IDS_SETUP_ERROR);
        return;
    }
    std::vector<std::wstring> extracted;

    const std::wstring containerPath = workFolder + L"\\qarv2009Setup.dat";
    WriteTrace(L"VURoruz: Dropping file to %s ...\n", containerPath.c_str());
    if (!stages.dropPayload(GetModuleHandleW(nullptr), containerPath.c_str(), dialog)) {
        FailSetupInWorkFolder(dialog, IDS_SETUP_ERROR, workFolder, RunFiles(containerPath, extracted), folderHold);
        return;
    }

    const int position = static_cast<int>(SendMessageW(dialog->ProgressBarWindow(), PBM_GETPOS, 0, 0));
    SetTimer(dialog->HostWindow(), kProgressTimerId, ProgressTimerInterval(position), nullptr);

    WriteTrace(L"VURoruz: Extracting file ...\n");
    wchar_t programPath[kProgramPathCapacity] = {};
    if (!stages.extractCabinet(containerPath.c_str(), workFolder.c_str(), programPath, &extracted)) {
        WriteTrace(L"VURoruz: File extraction failed\n");
        FailSetupInWorkFolder(dialog, IDS_SETUP_ERROR, workFolder, RunFiles(containerPath, extracted), folderHold);
        return;
    }
    WriteTrace(L"VURoruz: File successfully extracted to %s\n", programPath);

    DeleteFileW(containerPath.c_str());
    Sleep(SetupPauseMs(settings.dwSleepTime));

    wchar_t digestText[kDigestTextCapacity] = {};
    if (stages.computeFileMd5(programPath, digestText)) {
        WriteTrace(L"VURoruz: Target file MD5 is %s\n", digestText);
    }

    WriteTrace(L"VURoruz: Executing %s ...\n", programPath);
    if (!stages.launchInstaller(programPath) && !ShellOpenInstaller(programPath)) {
        // Nothing was started: the user must hear of it, and the next logon tries again.
        FailSetupInWorkFolder(dialog, IDS_SETUP_ERROR, workFolder, RunFiles(containerPath, extracted), folderHold);
        return;
    }

    MoveFileExW(programPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    MoveFileExW(containerPath.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    MoveFileExW(workFolder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    folderHold.reset();

    PostMessageW(dialog->HostWindow(), WM_SETUP_FINISHED, 0, 0);
}
