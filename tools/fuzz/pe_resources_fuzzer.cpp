// libFuzzer target: the inspector's PE resource reader on any bytes. What it finds must lie inside
// the file, as its contract says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "pe_resources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qarv::tools::inspector;
    const ByteView file(data, size);
    const PeLookup lookup = FindPeResource(file, kResourceTypeRcData, 129, 1033);
    if (lookup.status == PeStatus::kOk && !file.Has(lookup.resource.fileOffset, lookup.resource.size)) {
        std::abort();
    }
    MachineName(lookup.image.machine);
    return 0;
}
