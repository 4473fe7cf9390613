// Reboot-time removal of what a run created in its work folder.
#include "setup/run_leftovers.h"

#include <windows.h>

namespace qarv {

int RegisterRunLeftoversForReboot(const std::wstring& workFolder, const std::vector<std::wstring>& created,
                                  const std::wstring& containerPath, ContainerLeftover container) noexcept {
    if (workFolder.empty()) return 0;
    int registered = 0;
    for (const std::wstring& path : created) {
        if (MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) ++registered;
    }
    if (!containerPath.empty()) {
        const DWORD attributes = GetFileAttributesW(containerPath.c_str());
        const bool present = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
        if ((container == ContainerLeftover::Always || present) &&
            MoveFileExW(containerPath.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            ++registered;
        }
    }
    // Last, so that the system empties the folder before it removes it.
    if (MoveFileExW(workFolder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) ++registered;
    return registered;
}

}  // namespace qarv
