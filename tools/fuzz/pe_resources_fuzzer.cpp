// libFuzzer target: the inspector's PE resource reader, and the header reader it shares with the
// signature reader (pe_layout.h), on any bytes. What it finds must lie inside the file, as its
// contract says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "pe_resources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qarv::tools;
    const ByteView file(data, size);
    const inspector::PeLookup lookup = inspector::FindPeResource(file, inspector::kResourceTypeRcData, 129, 1033);
    if (lookup.status == inspector::PeStatus::kOk && !file.Has(lookup.resource.fileOffset, lookup.resource.size)) {
        std::abort();
    }
    inspector::MachineName(lookup.image.machine);
    return 0;
}
