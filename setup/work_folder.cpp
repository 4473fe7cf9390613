// Work-folder selection.
// Not built yet: until the free-space routes exist this reports a failed system call, which the
// setup worker turns into its general error message. It never invents a folder.
#include "setup/work_folder.h"

WorkFolderStatus ChooseWorkFolder(std::wstring& folder) {
    folder.clear();
    return kWorkFolderSystemCallFailed;
}
