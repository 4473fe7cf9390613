// libFuzzer target: the inspector's check of a cabinet's data (block checksums and sizes, its own
// stored and MSZIP decoding) and then the extraction of every file through libmspack, in the
// order the inspector runs them, on a cabinet read by the shared directory reader.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "cabinet_data.h"
#include "cabinet_extraction.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qarv::tools;
    const ByteView bytes(data, size);
    Cabinet cabinet;
    if (ReadCabinetDirectory(bytes, cabinet).status != CabinetStatus::kOk) return 0;
    const std::size_t program = cabinet.files.empty() ? 0 : cabinet.files.size() - 1;
    inspector::CabinetDataReport report;
    if (inspector::DecodeCabinetData(bytes, cabinet, program, report).status != CabinetStatus::kOk) return 0;
    inspector::CabinetExtraction extraction;
    if (inspector::ExtractCabinet(bytes, cabinet, program, extraction).status != CabinetStatus::kOk) return 0;
    // A whole extraction accounts for every file the directory lists.
    if (extraction.fileBytes.size() != cabinet.files.size()) std::abort();
    return 0;
}
