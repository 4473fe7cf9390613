// Finding one resource's bytes in a PE file by hand.
// Layout reference: https://learn.microsoft.com/windows/win32/debug/pe-format
#include "pe_resources.h"

#include <vector>

#include "cabinet_text.h"

namespace qarv::tools::inspector {
namespace {

constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint64_t kDirectoryTableSize = 16;
constexpr std::uint64_t kDirectoryEntrySize = 8;
constexpr std::uint64_t kDataEntrySize = 16;

struct Section {
    std::uint32_t virtualAddress = 0;
    std::uint32_t span = 0;  // bytes of the section that come from the file
    std::uint32_t rawOffset = 0;
};

// The resource directory's bytes: from its start to the end of its section's file data, as far as
// the file goes. `declared` is what the section promises, which a truncated file does not hold.
struct Region {
    ByteView bytes;
    std::uint64_t declared = 0;
};

struct DirectoryEntry {
    std::uint32_t name = 0;
    std::uint32_t target = 0;
};

class PeReader {
public:
    explicit PeReader(ByteView file) : m_file(file) {}

    PeLookup Find(std::uint32_t type, std::uint32_t id, std::uint16_t preferredLanguage);

private:
    PeStatus Fail(PeStatus status, const std::string& problem) {
        m_lookup.status = status;
        m_lookup.problem = problem;
        return status;
    }
    PeStatus ReadHeaders(std::uint32_t& resourceRva);
    // Maps `length` bytes at `rva` to the file; `room` gets the section's file bytes from `rva` on.
    PeStatus MapRva(std::uint32_t rva, std::uint64_t length, const char* what, std::uint64_t& fileOffset,
                    std::uint64_t& room);
    PeStatus Need(const Region& region, std::uint64_t offset, std::uint64_t length, const char* what);
    PeStatus ReadDirectory(const Region& region, std::uint64_t offset, std::vector<DirectoryEntry>& entries);

    ByteView m_file;
    std::vector<Section> m_sections;
    PeLookup m_lookup;
};

PeStatus PeReader::ReadHeaders(std::uint32_t& resourceRva) {
    const PeHeaders headers = ReadPeHeaders(m_file);
    m_lookup.image = headers.layout;
    if (headers.status != PeHeaderStatus::kOk) {
        const bool truncated = headers.status == PeHeaderStatus::kTruncated;
        return Fail(truncated ? PeStatus::kTruncated : PeStatus::kNotPe, headers.problem);
    }
    const PeLayout& layout = headers.layout;
    if (!layout.HasRoomForDirectory(kResourceDirectoryIndex)) {
        return Fail(PeStatus::kNoResource, "the image has no resource directory (its optional header is too short for one)");
    }
    if (!m_file.Has(layout.optionalHeader, layout.optionalSize)) {
        return Fail(PeStatus::kTruncated, "truncated PE file: it ends inside the optional header");
    }
    std::uint32_t directoryCount = 0, resourceSize = 0;
    const std::uint64_t resourceEntry = layout.DirectoryEntry(kResourceDirectoryIndex);
    m_file.Read32(layout.directoryCountField, directoryCount);
    m_file.Read32(resourceEntry, resourceRva);
    m_file.Read32(resourceEntry + 4, resourceSize);

    const std::uint16_t sectionCount = layout.sectionCount;
    const std::uint64_t table = layout.sectionTable;
    if (!m_file.Has(table, kSectionHeaderSize * sectionCount)) {
        return Fail(PeStatus::kTruncated, "truncated PE file: it ends inside the section table");
    }
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t header = table + kSectionHeaderSize * i;
        std::uint32_t virtualSize = 0, rawSize = 0;
        Section section;
        m_file.Read32(header + 8, virtualSize);
        m_file.Read32(header + 12, section.virtualAddress);
        m_file.Read32(header + 16, rawSize);
        m_file.Read32(header + 20, section.rawOffset);
        // Past its virtual size a section's file data is not part of the image.
        section.span = virtualSize != 0 && virtualSize < rawSize ? virtualSize : rawSize;
        m_sections.push_back(section);
    }
    if (directoryCount <= kResourceDirectoryIndex || resourceRva == 0 || resourceSize == 0) {
        return Fail(PeStatus::kNoResource, "the image has no resources");
    }
    return PeStatus::kOk;
}

PeStatus PeReader::MapRva(std::uint32_t rva, std::uint64_t length, const char* what, std::uint64_t& fileOffset,
                          std::uint64_t& room) {
    for (const Section& section : m_sections) {
        if (rva < section.virtualAddress || rva - section.virtualAddress >= section.span) continue;
        const std::uint32_t into = rva - section.virtualAddress;
        room = section.span - into;
        if (length > room) {
            return Fail(PeStatus::kNotPe, std::string("damaged PE file: the ") + what + " (RVA " + HexNumber(rva) + ", " +
                                              std::to_string(length) + " bytes) runs past the end of its section");
        }
        fileOffset = static_cast<std::uint64_t>(section.rawOffset) + into;
        if (!m_file.Has(fileOffset, length)) {
            return Fail(PeStatus::kTruncated, std::string("truncated file: the ") + what + " (file offset " +
                                                  HexNumber(fileOffset) + ", " + std::to_string(length) +
                                                  " bytes) runs past the end of the file (" +
                                                  std::to_string(m_file.size()) + " bytes)");
        }
        return PeStatus::kOk;
    }
    return Fail(PeStatus::kNotPe, std::string("damaged PE file: the ") + what + " (RVA " + HexNumber(rva) +
                                      ") lies in no section's file data");
}

PeStatus PeReader::Need(const Region& region, std::uint64_t offset, std::uint64_t length, const char* what) {
    if (region.bytes.Has(offset, length)) return PeStatus::kOk;
    if (offset <= region.declared && length <= region.declared - offset) {
        return Fail(PeStatus::kTruncated, std::string("truncated file: it ends inside the resource directory's ") + what);
    }
    return Fail(PeStatus::kNotPe, std::string("damaged resource directory: its ") + what + " lies outside its section");
}

PeStatus PeReader::ReadDirectory(const Region& region, std::uint64_t offset, std::vector<DirectoryEntry>& entries) {
    std::uint16_t named = 0, ids = 0;
    if (Need(region, offset, kDirectoryTableSize, "table") != PeStatus::kOk) return m_lookup.status;
    region.bytes.Read16(offset + 12, named);
    region.bytes.Read16(offset + 14, ids);
    const std::uint64_t count = static_cast<std::uint64_t>(named) + ids;
    if (Need(region, offset + kDirectoryTableSize, count * kDirectoryEntrySize, "entries") != PeStatus::kOk) {
        return m_lookup.status;
    }
    entries.assign(count, {});
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t entry = offset + kDirectoryTableSize + i * kDirectoryEntrySize;
        region.bytes.Read32(entry, entries[i].name);
        region.bytes.Read32(entry + 4, entries[i].target);
    }
    return PeStatus::kOk;
}

PeLookup PeReader::Find(std::uint32_t type, std::uint32_t id, std::uint16_t preferredLanguage) {
    std::uint32_t resourceRva = 0;
    if (ReadHeaders(resourceRva) != PeStatus::kOk) return m_lookup;
    std::uint64_t rootOffset = 0, room = 0;
    if (MapRva(resourceRva, kDirectoryTableSize, "resource directory", rootOffset, room) != PeStatus::kOk) {
        return m_lookup;
    }
    const Region region{m_file.Slice(rootOffset, room), room};

    // Three levels, type, name and language; a subdirectory entry has the high bit set and points
    // at a table relative to the directory's start. Fixed depth, so a looping directory ends here.
    const std::uint32_t wanted[2] = {type, id};
    const char* missing[2] = {"no resources of type ", "no resource "};
    std::uint64_t table = 0;
    std::vector<DirectoryEntry> entries;
    for (int level = 0; level < 2; ++level) {
        if (ReadDirectory(region, table, entries) != PeStatus::kOk) return m_lookup;
        const DirectoryEntry* found = nullptr;
        for (const DirectoryEntry& entry : entries) {
            if ((entry.name & kHighBit) == 0 && entry.name == wanted[level]) {
                found = &entry;
                break;
            }
        }
        if (found == nullptr) {
            std::string problem = missing[level] + std::to_string(wanted[level]);
            if (level == 1) problem += " of type " + std::to_string(type);
            Fail(PeStatus::kNoResource, problem);
            return m_lookup;
        }
        if ((found->target & kHighBit) == 0) {
            Fail(PeStatus::kNotPe, "damaged resource directory: a data entry where a subdirectory belongs");
            return m_lookup;
        }
        table = found->target & ~kHighBit;
    }

    if (ReadDirectory(region, table, entries) != PeStatus::kOk) return m_lookup;
    const DirectoryEntry* language = nullptr;
    for (const DirectoryEntry& entry : entries) {
        if ((entry.name & kHighBit) != 0) continue;
        if (language == nullptr || entry.name == preferredLanguage) language = &entry;
        if (entry.name == preferredLanguage) break;
    }
    if (language == nullptr) {
        Fail(PeStatus::kNoResource, "resource " + std::to_string(id) + " of type " + std::to_string(type) +
                                        " has no language entry");
        return m_lookup;
    }
    if ((language->target & kHighBit) != 0) {
        Fail(PeStatus::kNotPe, "damaged resource directory: a subdirectory where a data entry belongs");
        return m_lookup;
    }
    const std::uint64_t dataEntry = language->target;
    if (Need(region, dataEntry, kDataEntrySize, "data entry") != PeStatus::kOk) return m_lookup;
    PeResource& resource = m_lookup.resource;
    region.bytes.Read32(dataEntry, resource.rva);
    region.bytes.Read32(dataEntry + 4, resource.size);
    resource.language = static_cast<std::uint16_t>(language->name);
    if (MapRva(resource.rva, resource.size, "resource data", resource.fileOffset, room) != PeStatus::kOk) {
        return m_lookup;
    }
    m_lookup.status = PeStatus::kOk;
    return m_lookup;
}

}  // namespace

PeLookup FindPeResource(ByteView file, std::uint32_t type, std::uint32_t id, std::uint16_t preferredLanguage) {
    return PeReader(file).Find(type, id, preferredLanguage);
}

std::string MachineName(std::uint16_t machine) {
    switch (machine) {
        case 0x014C: return "i386";
        case 0x8664: return "x86-64";
        case 0xAA64: return "ARM64";
        case 0x01C4: return "ARM Thumb-2";
        default: return "machine " + HexNumber(machine);
    }
}

}  // namespace qarv::tools::inspector
