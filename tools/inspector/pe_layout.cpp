// Reading a PE image's headers by hand.
#include "pe_layout.h"

#include <cstring>

#include "cabinet_text.h"

namespace qarv::tools::inspector {
namespace {

constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;

PeHeaders Fail(PeHeaderStatus status, const std::string& problem) {
    PeHeaders headers;
    headers.status = status;
    headers.problem = problem;
    return headers;
}

}  // namespace

PeHeaders ReadPeHeaders(ByteView file) {
    if (file.size() < 2 || file.data()[0] != 'M' || file.data()[1] != 'Z') {
        return Fail(PeHeaderStatus::kNotPe, "not a PE file (no MZ signature)");
    }
    std::uint32_t peOffset = 0;
    if (!file.Read32(0x3C, peOffset)) return Fail(PeHeaderStatus::kNotPe, "not a PE file (too short for a DOS header)");
    if (!file.Has(peOffset, 4) || std::memcmp(file.data() + peOffset, "PE\0\0", 4) != 0) {
        return Fail(PeHeaderStatus::kNotPe, "not a PE file (no PE signature at " + HexNumber(peOffset) + ")");
    }
    PeHeaders headers;
    PeLayout& layout = headers.layout;
    const std::uint64_t coff = static_cast<std::uint64_t>(peOffset) + 4;
    if (!file.Read16(coff, layout.machine) || !file.Read16(coff + 2, layout.sectionCount) ||
        !file.Read16(coff + 16, layout.optionalSize)) {
        return Fail(PeHeaderStatus::kTruncated, "truncated PE file: it ends inside the file header");
    }
    layout.optionalHeader = coff + 20;
    std::uint16_t magic = 0;
    if (!file.Read16(layout.optionalHeader, magic)) {
        return Fail(PeHeaderStatus::kTruncated, "truncated PE file: it ends inside the optional header");
    }
    if (magic != kMagicPe32 && magic != kMagicPe32Plus) {
        return Fail(PeHeaderStatus::kNotPe, "not a PE image (optional header magic " + HexNumber(magic) + ")");
    }
    layout.pe32Plus = magic == kMagicPe32Plus;
    layout.checksumField = layout.optionalHeader + 64;
    layout.directoryCountField = layout.optionalHeader + (layout.pe32Plus ? 108 : 92);
    layout.sectionTable = layout.optionalHeader + layout.optionalSize;
    headers.status = PeHeaderStatus::kOk;
    return headers;
}

}  // namespace qarv::tools::inspector
