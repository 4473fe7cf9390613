// The packer's hold on the cabinet it packs: read whole and self-contained, file entries patched.
#include "cabinet_layout.h"

#include <cstring>

namespace qarv::tools::packer {
namespace {

void Write16(std::vector<std::uint8_t>& bytes, std::uint64_t offset, std::uint16_t value) {
    bytes.at(offset) = static_cast<std::uint8_t>(value);
    bytes.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

std::vector<CabinetEntry> ReadCabinetEntries(const std::vector<std::uint8_t>& bytes) {
    tools::Cabinet cabinet;
    const tools::CabinetCheck check = tools::ReadCabinetDirectory(tools::ByteView(bytes.data(), bytes.size()), cabinet);
    switch (check.status) {
        case tools::CabinetStatus::kOk: break;
        case tools::CabinetStatus::kNotCabinet: throw PackerError("not a cabinet (no MSCF signature)");
        case tools::CabinetStatus::kTruncated: throw PackerError("not a whole cabinet (" + check.problem + ")");
        default: throw PackerError(check.problem);
    }
    // The payload is the cabinet and nothing else: bytes after it would be scrambled and carried for nothing.
    if (cabinet.declaredSize != bytes.size()) throw PackerError("not a whole cabinet (its header gives another size)");
    if (cabinet.folders.empty() || cabinet.files.empty()) throw PackerError("the cabinet holds no files");
    return cabinet.files;
}

std::string ProblemWithEntryName(const std::string& name) {
    if (name.empty()) return "has an empty name";
    if (name.size() > 200) return "has a name longer than 200 bytes";
    if (name.find_first_of("\\/") != std::string::npos) {
        return "has a folder part; the launcher extracts into one folder and creates no subfolders";
    }
    if (name.find(':') != std::string::npos) return "has a ':' (a drive or a stream name)";
    if (name == "." || name == "..") return "is not a file name";
    for (unsigned char c : name) {
        if (c < 0x20 || std::strchr("<>\"|?*", c) != nullptr) return "has a character Windows does not allow in a file name";
    }
    return {};
}

void SetEntryAttributes(std::vector<std::uint8_t>& cabinet, const CabinetEntry& entry, std::uint16_t attributes) {
    Write16(cabinet, entry.recordOffset + tools::kFileAttributesField, attributes);
}

void SetEntryDateTime(std::vector<std::uint8_t>& cabinet, const CabinetEntry& entry, std::uint16_t date,
                      std::uint16_t time) {
    Write16(cabinet, entry.recordOffset + tools::kFileDateField, date);
    Write16(cabinet, entry.recordOffset + tools::kFileTimeField, time);
}

}  // namespace qarv::tools::packer
