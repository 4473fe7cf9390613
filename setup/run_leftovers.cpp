// Reboot-time removal of a failed run's work folder.
#include "setup/run_leftovers.h"

#include <windows.h>

int RegisterRunLeftoversForReboot(const std::wstring& workFolder, const std::vector<std::wstring>& files) {
    if (workFolder.empty()) return 0;
    int registered = 0;
    for (const std::wstring& path : files) {
        if (MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) ++registered;
    }
    // Last, so that the system empties the folder before it removes it.
    if (MoveFileExW(workFolder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) ++registered;
    return registered;
}
