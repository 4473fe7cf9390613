// What a failed run leaves in its own work folder, handed to the system for deletion at reboot.
#pragma once

#include <string>

// Registers every file directly inside `workFolder`, then the folder itself, for deletion at the
// next reboot (MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT, results ignored). Only for a folder
// this run created: everything in it is then the run's own. Subfolders are left alone, so the
// folder's own deletion fails harmlessly if one exists. Returns the number of entries registered.
int RegisterRunLeftoversForReboot(const std::wstring& workFolder);
