// Reading a Microsoft cabinet's directory: header, folder table and file list.
#include "cabinet_directory.h"

#include <cstring>
#include <utility>

#include "cabinet_text.h"

namespace qarv::tools {
namespace {

CabinetCheck Problem(CabinetStatus status, const std::string& problem) { return {status, problem}; }

std::string Quoted(const std::string& name) { return "'" + name + "'"; }

// An extraction decodes a folder from its start again whenever a file lies before the point it
// has reached, or in another folder than the file before it (libmspack and FDI both do), so a
// listing that goes back could make one folder decode once per file. Files of one folder must go
// forward without overlapping, and the listing never returns to a folder it left, except for the
// last file: the launcher starts the file it closes last, whichever folder holds it. Every
// extraction then decodes at most the folders' data and one folder again.
CabinetCheck CheckFileOrder(const Cabinet& cabinet) {
    std::vector<std::uint64_t> reached(cabinet.folders.size(), 0);  // end of the folder's last file so far
    std::vector<const CabinetFile*> last(cabinet.folders.size(), nullptr);
    std::vector<bool> left(cabinet.folders.size(), false);
    const CabinetFile* previous = nullptr;
    for (std::size_t i = 0; i < cabinet.files.size(); ++i) {
        const CabinetFile& file = cabinet.files[i];
        const std::uint64_t end = static_cast<std::uint64_t>(file.folderOffset) + file.size;
        const std::string range = " (bytes " + std::to_string(file.folderOffset) + " to " + std::to_string(end) +
                                  " of folder " + std::to_string(file.folder) + ")";
        if (previous != nullptr && previous->folder != file.folder) left[previous->folder] = true;
        if (left[file.folder] && i + 1 != cabinet.files.size()) {
            return Problem(CabinetStatus::kDamaged, "damaged cabinet: file " + Quoted(file.name) + range +
                                                        " returns to a folder an earlier file left; only the last file "
                                                        "may, and each return decodes the folder again");
        }
        if (last[file.folder] != nullptr && file.folderOffset < reached[file.folder]) {
            return Problem(CabinetStatus::kDamaged, "damaged cabinet: file " + Quoted(file.name) + range +
                                                        " overlaps or comes before file " + Quoted(last[file.folder]->name) +
                                                        ", which ends at byte " + std::to_string(reached[file.folder]) +
                                                        "; each such file decodes the folder again");
        }
        reached[file.folder] = end;
        last[file.folder] = &file;
        previous = &file;
    }
    return {};
}

}  // namespace

const char* CompressionName(std::uint16_t compression) {
    switch (compression & kCompressionMask) {
        case kCompressionNone: return "stored";
        case kCompressionMszip: return "MSZIP";
        case kCompressionQuantum: return "Quantum";
        case kCompressionLzx: return "LZX";
    }
    return "unknown";
}

std::uint32_t CabinetChecksum(const std::uint8_t* data, std::size_t size, std::uint32_t seed) {
    std::uint32_t sum = seed;
    std::size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        sum ^= static_cast<std::uint32_t>(data[i]) | (static_cast<std::uint32_t>(data[i + 1]) << 8) |
               (static_cast<std::uint32_t>(data[i + 2]) << 16) | (static_cast<std::uint32_t>(data[i + 3]) << 24);
    }
    // The tail goes in with its first byte highest, unlike the whole words.
    std::uint32_t tail = 0;
    for (; i < size; ++i) tail = (tail << 8) | data[i];
    return sum ^ tail;
}

CabinetCheck ReadCabinetDirectory(ByteView bytes, Cabinet& cabinet) {
    cabinet = Cabinet{};
    if (bytes.size() < 4 || std::memcmp(bytes.data(), "MSCF", 4) != 0) {
        const std::size_t shown = bytes.size() < 4 ? bytes.size() : 4;
        return Problem(CabinetStatus::kNotCabinet, bytes.size() == 0 ? "it is empty"
                                                                     : "it starts with " + HexBytes(bytes.data(), shown, ' ') +
                                                                           ", not the signature MSCF");
    }
    if (!bytes.Has(0, kCabinetHeaderSize)) {
        return Problem(CabinetStatus::kTruncated,
                       "truncated cabinet: " + std::to_string(bytes.size()) + " bytes, less than a cabinet header");
    }
    std::uint32_t filesOffset = 0;
    std::uint16_t folderCount = 0, fileCount = 0;
    bytes.Read32(8, cabinet.declaredSize);
    bytes.Read32(16, filesOffset);
    bytes.Read8(24, cabinet.versionMinor);
    bytes.Read8(25, cabinet.versionMajor);
    bytes.Read16(26, folderCount);
    bytes.Read16(28, fileCount);
    bytes.Read16(30, cabinet.flags);
    if (cabinet.declaredSize > bytes.size()) {
        return Problem(CabinetStatus::kTruncated, "truncated cabinet: its header gives " +
                                                      std::to_string(cabinet.declaredSize) + " bytes, there are only " +
                                                      std::to_string(bytes.size()));
    }
    if (cabinet.declaredSize < kCabinetHeaderSize) {
        return Problem(CabinetStatus::kDamaged,
                       "damaged cabinet: its header gives a size of " + std::to_string(cabinet.declaredSize) + " bytes");
    }
    if (cabinet.flags & (kFlagPreviousCabinet | kFlagNextCabinet)) {
        return Problem(CabinetStatus::kUnsupported,
                       "the cabinet is part of a cabinet set; the launcher extracts one cabinet on its own");
    }
    // From here on the cabinet's own size bounds every read.
    const ByteView view = bytes.Slice(0, cabinet.declaredSize);

    std::uint64_t offset = kCabinetHeaderSize;
    std::uint8_t folderReserve = 0;
    if (cabinet.flags & kFlagReservePresent) {
        std::uint16_t headerReserve = 0;
        if (!view.Read16(36, headerReserve) || !view.Read8(38, folderReserve) || !view.Read8(39, cabinet.dataReserve)) {
            return Problem(CabinetStatus::kDamaged, "damaged cabinet: it ends inside its reserve sizes");
        }
        offset = kCabinetHeaderSize + 4 + static_cast<std::uint64_t>(headerReserve);
    }
    for (std::uint16_t i = 0; i < folderCount; ++i) {
        CabinetFolder folder;
        if (!view.Has(offset, kFolderRecordSize + folderReserve)) {
            return Problem(CabinetStatus::kDamaged, "damaged cabinet: its folder table runs past its end");
        }
        view.Read32(offset, folder.dataOffset);
        view.Read16(offset + 4, folder.blockCount);
        view.Read16(offset + 6, folder.compression);
        cabinet.folders.push_back(folder);
        offset += kFolderRecordSize + folderReserve;
    }

    offset = filesOffset;
    for (std::uint16_t i = 0; i < fileCount; ++i) {
        CabinetFile file;
        if (!view.Has(offset, kFileRecordSize)) {
            return Problem(CabinetStatus::kDamaged, "damaged cabinet: its file list runs past its end (file " +
                                                        std::to_string(i + 1) + " of " + std::to_string(fileCount) + ")");
        }
        file.recordOffset = offset;
        view.Read32(offset, file.size);
        view.Read32(offset + 4, file.folderOffset);
        view.Read16(offset + 8, file.folder);
        view.Read16(offset + kFileDateField, file.date);
        view.Read16(offset + kFileTimeField, file.time);
        view.Read16(offset + kFileAttributesField, file.attributes);
        const std::uint64_t nameStart = offset + kFileRecordSize;
        const void* nameEnd = view.Has(nameStart, 1)
                                  ? std::memchr(view.data() + nameStart, 0, view.size() - static_cast<std::size_t>(nameStart))
                                  : nullptr;
        if (nameEnd == nullptr) {
            return Problem(CabinetStatus::kDamaged,
                           "damaged cabinet: the name of file " + std::to_string(i + 1) + " runs past its end");
        }
        file.name.assign(reinterpret_cast<const char*>(view.data() + nameStart), static_cast<const char*>(nameEnd));
        offset = static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(nameEnd) - view.data()) + 1;
        if (file.folder >= kFirstContinuedFolder) {
            return Problem(CabinetStatus::kUnsupported, "file " + Quoted(file.name) +
                                                            " continues from or into another cabinet; the launcher "
                                                            "extracts one cabinet on its own");
        }
        if (file.folder >= folderCount) {
            return Problem(CabinetStatus::kDamaged, "damaged cabinet: file " + Quoted(file.name) + " is in folder " +
                                                        std::to_string(file.folder) + ", the cabinet has " +
                                                        std::to_string(folderCount));
        }
        cabinet.files.push_back(std::move(file));
    }
    return CheckFileOrder(cabinet);
}

}  // namespace qarv::tools
