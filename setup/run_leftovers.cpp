// Reboot-time removal of a failed run's work folder.
#include "setup/run_leftovers.h"

#include <windows.h>

#include "common/unique_handle.h"

int RegisterRunLeftoversForReboot(const std::wstring& workFolder) {
    if (workFolder.empty()) return 0;
    int registered = 0;
    WIN32_FIND_DATAW entry{};
    qarv::UniqueFindHandle search(
        FindFirstFileExW((workFolder + L"\\*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
    if (search) {
        do {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;  // ".", ".." and subfolders
            const std::wstring path = workFolder + L"\\" + entry.cFileName;
            if (MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) ++registered;
        } while (FindNextFileW(search.get(), &entry));
    }
    // Last, so that the system empties the folder before it removes it.
    if (MoveFileExW(workFolder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) ++registered;
    return registered;
}
