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

namespace qarv {

void FailSetup(SetupHost* dialog, UINT messageId) noexcept {
    dialog->RecordOutcome(ExitCodeForMessage(messageId));
    // Allocation-free, because it also reports an allocation failure.
    qarv::AppMessageBoxNoAlloc(dialog->HostWindow(), messageId, MB_ICONHAND);
    dialog->CancelSetup();
}

namespace {

// A failure once this run holds its work folder: what the run created there goes at the next
// reboot. Registered before the box, so that a run ended while the box waits still leaves it so;
// the hold is let go after that, and before the box. Allocates nothing.
void FailSetupInWorkFolder(SetupHost* dialog, UINT messageId, HeldWorkFolder& held, const CreatedFiles& created,
                           const std::wstring& containerPath) noexcept {
    RegisterRunLeftoversForReboot(held.path, created, containerPath, ContainerLeftover::IfPresent);
    held = HeldWorkFolder();
    FailSetup(dialog, messageId);
}

// The sequence from the drop on, inside `held`, named by its held path alone. Every way out of it
// that is not a started installer, an exception included, registers what the run created.
void RunInWorkFolder(SetupHost* dialog, const SetupSettings& settings, HeldWorkFolder& held) {
    const SetupStages& stages = dialog->Stages();
    const std::wstring& workFolder = held.path;
    CreatedFiles created;
    std::wstring containerPath;
    try {
        containerPath = workFolder + L"\\qarv2009Setup.dat";
        WriteTrace(L"VURoruz: Dropping file to %s ...\n", containerPath.c_str());
        if (!stages.dropPayload(GetModuleHandleW(nullptr), containerPath.c_str(), dialog)) {
            FailSetupInWorkFolder(dialog, IDS_SETUP_ERROR, held, created, containerPath);
            return;
        }

        const int position = static_cast<int>(SendMessageW(dialog->ProgressBarWindow(), PBM_GETPOS, 0, 0));
        SetTimer(dialog->HostWindow(), kProgressTimerId, ProgressTimerInterval(position), nullptr);

        WriteTrace(L"VURoruz: Extracting file ...\n");
        wchar_t programPath[kProgramPathCapacity] = {};
        if (!stages.extractCabinet(containerPath.c_str(), workFolder.c_str(), programPath, &created)) {
            WriteTrace(L"VURoruz: File extraction failed\n");
            FailSetupInWorkFolder(dialog, IDS_SETUP_ERROR, held, created, containerPath);
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
            FailSetupInWorkFolder(dialog, IDS_SETUP_ERROR, held, created, containerPath);
            return;
        }
    } catch (...) {
        // An allocation failure (or any other) after the folder exists: the same cleanup as any
        // failed stage, before the box.
        FailSetupInWorkFolder(dialog, IDS_SETUP_ERROR, held, created, containerPath);
        return;
    }

    // Every file the extraction created (the program among them), the container's path, the
    // folder: a payload of several files leaves nothing behind after the next reboot.
    RegisterRunLeftoversForReboot(workFolder, created, containerPath, ContainerLeftover::Always);
    held = HeldWorkFolder();

    PostMessageW(dialog->HostWindow(), WM_SETUP_FINISHED, 0, 0);
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
    // the hold keeps it so (no rename, no swap, above it neither) until the installer has started
    // or the run failed, and the run names it by its held path alone.
    HeldWorkFolder held = CreateAndHoldWorkFolder(workFolder);
    if (!held) {
        FailSetup(dialog, IDS_SETUP_ERROR);
        return;
    }
    RunInWorkFolder(dialog, settings, held);
}

}  // namespace qarv
