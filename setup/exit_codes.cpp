// The exit code of each error message.
#include "setup/exit_codes.h"

#include "res/resource_ids.h"

namespace qarv {

int ExitCodeForMessage(UINT messageId) { return messageId == IDS_DISK_SPACE_ERROR ? kExitDiskFull : kExitSetupFailed; }

}  // namespace qarv
