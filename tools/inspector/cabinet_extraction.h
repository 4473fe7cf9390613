// Extracting a cabinet's files in memory through a decoder that is not the inspector's own: the
// one the launcher's extraction stands for. libmspack on Linux (cabinet_extraction_mspack.cpp),
// the system's FDI in Cabinet.dll in the Windows console build (cabinet_extraction_fdi.cpp). It
// decodes every compression the launcher's Cabinet.dll does (stored, MSZIP, Quantum, LZX); nothing
// is written to disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "byte_view.h"
#include "cabinet_directory.h"

namespace qarv::tools::inspector {

struct CabinetExtraction {
    std::vector<std::uint64_t> fileBytes;  // bytes the decoder produced per file, in cabinet order
    std::string digest;                   // MD5 of the file asked for, 32 upper-case hexadecimal digits
};

// Extracts every file of `cabinet` (as read by tools::ReadCabinetDirectory from `bytes`) and
// digests file `digestIndex` (none when it is out of range). kDamaged when the decoder cannot
// decode the data or the files it yields are not the directory's; kUnsupported when it knows no
// such compression. Throws tools::DigestError when the platform cannot compute the digest.
tools::CabinetCheck ExtractCabinet(tools::ByteView bytes, const tools::Cabinet& cabinet, std::size_t digestIndex,
                                   CabinetExtraction& extraction);

}  // namespace qarv::tools::inspector
