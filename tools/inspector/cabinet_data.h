// Checking all of a cabinet's data blocks (checksums, sizes, bounds) and decoding the stored and
// MSZIP ones, one file digested. Quantum and LZX data is checked here and decoded by the platform's
// decoder (cabinet_extraction.h). The directory comes from tools/cabinet/cabinet_directory.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "byte_view.h"
#include "cabinet_directory.h"

namespace qarv::tools::inspector {

struct CabinetDataReport {
    std::size_t blocks = 0;
    std::size_t checksummedBlocks = 0;  // blocks that carry a checksum (all of them checked)
    std::uint64_t uncompressedBytes = 0;
    std::string digest;  // MD5 of the file asked for, 32 upper-case hexadecimal digits; empty when
                         // its folder is Quantum or LZX, which only the platform's decoder decodes
};

// Checks every data block of `cabinet` (as read by ReadCabinetDirectory from the same bytes): its
// checksum and sizes, and that every file lies inside its folder's data; decodes the stored and
// MSZIP folders and digests file `digestIndex` when it lies in one of them (none when it is out of
// range). kUnsupported for a compression Cabinet.dll does not know either. Time and memory stay bounded by the
// blocks the cabinet holds: one 32 KiB block and a 32 KiB history at a time. Throws
// tools::DigestError when the platform cannot compute the digest.
CabinetCheck DecodeCabinetData(ByteView bytes, const Cabinet& cabinet, std::size_t digestIndex,
                               CabinetDataReport& report);

}  // namespace qarv::tools::inspector
