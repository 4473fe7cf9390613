// The packer's check of a payload's size against what the launcher's address space holds.
#pragma once

#include <cstdint>
#include <string>

namespace packer {

// Throws PackerError when a payload of `size` bytes is larger than the launcher can carry on any
// Windows (kLargestPayload); prints a warning on standard error, naming the Windows versions that
// can run it, when only 64-bit Windows can. `what` names the payload's source in the messages.
void CheckPayloadSize(std::uint64_t size, const std::string& what);

}  // namespace packer
