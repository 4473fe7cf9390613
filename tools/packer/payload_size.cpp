// The packer's checks of sizes: a payload against what the launcher's address space holds, an
// installer folder against what one cabinet folder holds.
#include "payload_size.h"

#include <cinttypes>
#include <cstdio>

#include "cabinet_layout.h"
#include "payload/payload_limits.h"

namespace qarv::tools::packer {

void CheckPayloadSize(std::uint64_t size, const std::string& what) {
    if (size > qarv::kLargestPayload) {
        throw PackerError(what + " makes a payload of " + std::to_string(size) +
                          " bytes; the launcher carries at most " + std::to_string(qarv::kLargestPayload) +
                          " bytes: a 32-bit process, it holds the payload twice in its address space");
    }
    if (size > qarv::kLargestPayloadOn32BitWindows) {
        std::fprintf(stderr,
                     "qarv-packer: warning: the payload's %" PRIu64 " bytes are more than 32-bit Windows holds (%" PRIu64
                     " bytes): the launcher runs on 64-bit Windows (Vista x64 and later) only; on 32-bit Windows "
                     "(Vista, 7, 8, 8.1, 10) it ends with its setup error (exit code 1603)\n",
                     size, qarv::kLargestPayloadOn32BitWindows);
    }
}

void CheckFolderData(const std::vector<InstallerFile>& files, const std::string& folder) {
    const std::string limit = std::to_string(tools::kLargestFolderData) + " bytes (" +
                              std::to_string(tools::kMostDataBlocks) + " data blocks of " +
                              std::to_string(tools::kLargestDataBlock) + " bytes uncompressed)";
    std::uint64_t total = 0;
    for (const InstallerFile& file : files) {
        if (file.size > tools::kLargestFolderData) {
            throw PackerError("file '" + file.path + "' holds " + std::to_string(file.size) +
                              " bytes; a cabinet folder holds at most " + limit + ", so no cabinet can carry it");
        }
        total += file.size;
    }
    if (total > tools::kLargestFolderData) {
        throw PackerError("the files of folder '" + folder + "' hold " + std::to_string(total) +
                          " bytes together; they are packed into one cabinet folder, which holds at most " + limit);
    }
}

}  // namespace qarv::tools::packer
