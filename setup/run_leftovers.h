// What a run leaves in its own work folder, handed to the system for deletion at reboot.
#pragma once

#include <string>
#include <vector>

namespace qarv {

// Whether the container is registered whatever is at its path (a completed run, which deleted it
// and registers the path in case the deletion did not take) or only while a file is there.
enum class ContainerLeftover { Always, IfPresent };

// Registers each of `created` (the files this run's extraction created, by the paths it created
// them under), then `containerPath` as `container` says, then `workFolder` itself, for deletion at
// the next reboot (MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT, results ignored). The folder is
// never listed, so nothing that the run did not create is registered; anything else in the folder
// keeps the folder's own deletion from succeeding, harmlessly. An empty `containerPath` registers
// no container. Allocates nothing, so it also serves a run that failed for want of memory.
// Returns the number registered.
int RegisterRunLeftoversForReboot(const std::wstring& workFolder, const std::vector<std::wstring>& created,
                                  const std::wstring& containerPath, ContainerLeftover container) noexcept;

}  // namespace qarv
