// What a failed run leaves in its own work folder, handed to the system for deletion at reboot.
#pragma once

#include <string>
#include <vector>

// Registers each of `files`, then `workFolder` itself, for deletion at the next reboot
// (MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT, results ignored). `files` are the paths this run
// created in the folder, as it created them; the folder is never listed, so nothing the path
// leads to at failure time, if it now leads elsewhere, is registered. Anything else in the folder
// keeps the folder's own deletion from succeeding, harmlessly. Returns the number registered.
int RegisterRunLeftoversForReboot(const std::wstring& workFolder, const std::vector<std::wstring>& files);
