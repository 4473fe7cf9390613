// Reading and patching the file entries of a single Microsoft cabinet held in memory.
#include "cabinet_layout.h"

#include <cstdio>
#include <cstring>

namespace packer {
namespace {

constexpr std::size_t kHeaderSize = 36;
constexpr std::uint16_t kFlagPreviousCabinet = 0x0001;
constexpr std::uint16_t kFlagNextCabinet = 0x0002;
constexpr std::uint16_t kFlagReservePresent = 0x0004;
constexpr std::size_t kFileRecordSize = 16;

std::uint16_t Read16(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint32_t Read32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return Read16(bytes, offset) | (static_cast<std::uint32_t>(Read16(bytes, offset + 2)) << 16);
}

void Write16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

std::vector<CabinetEntry> ReadCabinetEntries(const std::vector<std::uint8_t>& cabinet) {
    if (cabinet.size() < kHeaderSize || std::memcmp(cabinet.data(), "MSCF", 4) != 0) {
        throw PackerError("not a cabinet (no MSCF signature)");
    }
    if (Read32(cabinet, 8) != cabinet.size()) throw PackerError("not a whole cabinet (its header gives another size)");
    const std::uint16_t folderCount = Read16(cabinet, 26);
    const std::uint16_t fileCount = Read16(cabinet, 28);
    const std::uint16_t flags = Read16(cabinet, 30);
    if (flags & (kFlagPreviousCabinet | kFlagNextCabinet)) {
        throw PackerError("the cabinet is part of a cabinet set; the launcher carries one self-contained cabinet");
    }
    if (folderCount == 0 || fileCount == 0) throw PackerError("the cabinet holds no files");

    std::size_t offset = Read32(cabinet, 16);
    std::size_t headerEnd = kHeaderSize;
    if (flags & kFlagReservePresent) headerEnd += 4 + (cabinet.size() > 37 ? Read16(cabinet, 36) : 0);
    if (offset < headerEnd || offset >= cabinet.size()) throw PackerError("not a cabinet (file list out of range)");

    std::vector<CabinetEntry> entries;
    for (unsigned i = 0; i < fileCount; ++i) {
        if (offset + kFileRecordSize >= cabinet.size()) throw PackerError("not a cabinet (truncated file list)");
        CabinetEntry entry;
        entry.headerOffset = offset;
        entry.size = Read32(cabinet, offset);
        const std::uint16_t folder = Read16(cabinet, offset + 8);
        if (folder >= folderCount) throw PackerError("the cabinet continues files across cabinets");
        entry.date = Read16(cabinet, offset + 10);
        entry.time = Read16(cabinet, offset + 12);
        entry.attributes = Read16(cabinet, offset + 14);
        const auto* nameStart = cabinet.data() + offset + kFileRecordSize;
        const auto* nameEnd = static_cast<const std::uint8_t*>(
            std::memchr(nameStart, 0, cabinet.size() - offset - kFileRecordSize));
        if (nameEnd == nullptr) throw PackerError("not a cabinet (unterminated file name)");
        entry.name.assign(reinterpret_cast<const char*>(nameStart), reinterpret_cast<const char*>(nameEnd));
        offset = static_cast<std::size_t>(nameEnd - cabinet.data()) + 1;
        entries.push_back(entry);
    }
    return entries;
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
    Write16(cabinet, entry.headerOffset + 14, attributes);
}

void SetEntryDateTime(std::vector<std::uint8_t>& cabinet, const CabinetEntry& entry, std::uint16_t date,
                      std::uint16_t time) {
    Write16(cabinet, entry.headerOffset + 10, date);
    Write16(cabinet, entry.headerOffset + 12, time);
}

void ParseDosDateTime(const std::string& text, std::uint16_t& date, std::uint16_t& time) {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4u-%2u-%2u %2u:%2u:%2u%c", &year, &month, &day, &hour, &minute, &second, &tail) != 6 ||
        year < 1980 || year > 2107 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 59 || second % 2 != 0) {
        throw PackerError("bad date '" + text + "': give YYYY-MM-DD HH:MM:SS, years 1980 to 2107, even seconds");
    }
    date = static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
    time = static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

std::string FormatDosDateTime(std::uint16_t date, std::uint16_t time) {
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980u + (date >> 9), (date >> 5) & 15u,
                  date & 31u, time >> 11, (time >> 5) & 63u, (time & 31u) * 2);
    return text;
}

std::uint16_t ParseAttributeLetters(const std::string& letters) {
    if (letters == "-") return 0;
    std::uint16_t attributes = 0;
    for (char c : letters) {
        switch (c) {
            case 'r': attributes |= kAttributeReadOnly; break;
            case 'h': attributes |= kAttributeHidden; break;
            case 's': attributes |= kAttributeSystem; break;
            case 'a': attributes |= kAttributeArchive; break;
            default: throw PackerError("bad attributes '" + letters + "': use the letters r, h, s, a, or - for none");
        }
    }
    if (attributes == 0) throw PackerError("bad attributes '': use the letters r, h, s, a, or - for none");
    return attributes;
}

std::string FormatAttributes(std::uint16_t attributes) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%02X %c%c%c%c", attributes, attributes & kAttributeReadOnly ? 'r' : '-',
                  attributes & kAttributeHidden ? 'h' : '-', attributes & kAttributeSystem ? 's' : '-',
                  attributes & kAttributeArchive ? 'a' : '-');
    return text;
}

}  // namespace packer
