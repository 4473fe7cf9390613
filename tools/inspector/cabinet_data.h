// Decoding all of a cabinet's data (stored or MSZIP): every block checked, one file digested.
// The directory it decodes comes from the tools' shared reader (tools/cabinet/cabinet_directory.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "byte_view.h"
#include "cabinet_directory.h"

namespace inspector {

using tools::ByteView;
using tools::Cabinet;
using tools::CabinetCheck;
using tools::CabinetFile;
using tools::CabinetFolder;
using tools::CabinetStatus;

struct CabinetDataReport {
    std::size_t blocks = 0;
    std::size_t checksummedBlocks = 0;  // blocks that carry a checksum (all of them checked)
    std::uint64_t uncompressedBytes = 0;
    std::string digest;  // MD5 of the file asked for, 32 upper-case hexadecimal digits
};

// Decodes every folder of `cabinet` (as read by ReadCabinetDirectory from the same bytes), checks
// each data block's checksum and sizes and that every file lies inside its folder's data, and
// digests file `digestIndex` (none when it is out of range). Time and memory stay bounded by the
// blocks the cabinet holds: one 32 KiB block and a 32 KiB history at a time. Throws
// tools::DigestError when the platform cannot compute the digest.
CabinetCheck DecodeCabinetData(ByteView bytes, const Cabinet& cabinet, std::size_t digestIndex,
                               CabinetDataReport& report);

}  // namespace inspector
