// The packer's checks of sizes: a payload against what the launcher's address space holds, an
// installer folder against what one cabinet folder holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qarv::tools::packer {

// Throws PackerError when a payload of `size` bytes is larger than the launcher can carry on any
// Windows (kLargestPayload); prints a warning on standard error, naming the Windows versions that
// can run it, when only 64-bit Windows can. `what` names the payload's source in the messages.
void CheckPayloadSize(std::uint64_t size, const std::string& what);

// Throws PackerError when a file of the installer folder, or all of them together, holds more than
// one cabinet folder can (tools::kLargestFolderData): gcab packs them all into one folder. Called
// before anything is built. `files` are the files' paths and sizes, `folder` the folder's path.
struct InstallerFile {
    std::string path;
    std::uint64_t size = 0;
};
void CheckFolderData(const std::vector<InstallerFile>& files, const std::string& folder);

}  // namespace qarv::tools::packer
