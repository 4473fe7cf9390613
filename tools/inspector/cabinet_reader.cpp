// Reading a single Microsoft cabinet held in memory, and decoding its data.
#include "cabinet_reader.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>

#include "md5.h"

namespace inspector {
namespace {

constexpr std::uint64_t kHeaderSize = 36;
constexpr std::uint16_t kFlagPreviousCabinet = 0x0001;
constexpr std::uint16_t kFlagNextCabinet = 0x0002;
constexpr std::uint16_t kFlagReservePresent = 0x0004;
constexpr std::uint64_t kFolderRecordSize = 8;
constexpr std::uint64_t kFileRecordSize = 16;
constexpr std::uint64_t kDataHeaderSize = 8;
constexpr std::uint16_t kFirstContinuedFolder = 0xFFFD;  // 0xFFFD to 0xFFFF: shared with another cabinet
// MSZIP blocks, and stored blocks as cabinet makers write them, hold at most 32 KiB; it is also the
// deflate history a block may reach back into.
constexpr std::size_t kMaxBlockSize = 32768;

CabinetCheck Problem(CabinetStatus status, const std::string& problem) { return {status, problem}; }

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string Quoted(const std::string& name) { return "'" + name + "'"; }

// One folder's MSZIP blocks: each a "CK" signature and a raw deflate stream whose history is the
// uncompressed data of the blocks before it in the folder.
class MszipDecoder {
public:
    MszipDecoder() { m_ready = inflateInit2(&m_stream, -MAX_WBITS) == Z_OK; }
    ~MszipDecoder() {
        if (m_ready) inflateEnd(&m_stream);
    }
    MszipDecoder(const MszipDecoder&) = delete;
    MszipDecoder& operator=(const MszipDecoder&) = delete;

    // Decodes `in` to exactly `outSize` bytes at `out`; on failure `why` says how it went wrong.
    bool Block(const std::uint8_t* in, std::size_t inSize, const std::vector<std::uint8_t>& history,
               std::uint8_t* out, std::size_t outSize, std::string& why) {
        if (!m_ready) {
            why = "the decompressor could not be set up";
            return false;
        }
        if (inSize < 2 || in[0] != 'C' || in[1] != 'K') {
            why = "has no MSZIP signature";
            return false;
        }
        inflateReset(&m_stream);
        if (!history.empty() &&
            inflateSetDictionary(&m_stream, history.data(), static_cast<uInt>(history.size())) != Z_OK) {
            why = "could not take the folder's history";
            return false;
        }
        m_stream.next_in = const_cast<Bytef*>(in + 2);
        m_stream.avail_in = static_cast<uInt>(inSize - 2);
        m_stream.next_out = out;
        m_stream.avail_out = static_cast<uInt>(outSize);
        const int result = inflate(&m_stream, Z_FINISH);
        if (result == Z_STREAM_END && m_stream.avail_out == 0) return true;
        if (result == Z_STREAM_END) {
            why = "decodes to " + std::to_string(outSize - m_stream.avail_out) + " bytes, not the " +
                  std::to_string(outSize) + " its header gives";
        } else if (result == Z_DATA_ERROR) {
            why = std::string("does not decode (") + (m_stream.msg != nullptr ? m_stream.msg : "bad deflate data") + ")";
        } else if (m_stream.avail_out == 0) {
            why = "decodes to more than the " + std::to_string(outSize) + " bytes its header gives";
        } else {
            why = "ends before its deflate stream does";
        }
        return false;
    }

private:
    z_stream m_stream{};
    bool m_ready = false;
};

bool IsLeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

}  // namespace

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
        std::string start;
        for (std::size_t i = 0; i < 4 && i < bytes.size(); ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%s%02X", i == 0 ? "" : " ", bytes.data()[i]);
            start += hex;
        }
        return Problem(CabinetStatus::kNotCabinet,
                       bytes.size() == 0 ? "it is empty" : "it starts with " + start + ", not the signature MSCF");
    }
    if (!bytes.Has(0, kHeaderSize)) {
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
    if (cabinet.declaredSize < kHeaderSize) {
        return Problem(CabinetStatus::kDamaged,
                       "damaged cabinet: its header gives a size of " + std::to_string(cabinet.declaredSize) + " bytes");
    }
    if (cabinet.flags & (kFlagPreviousCabinet | kFlagNextCabinet)) {
        return Problem(CabinetStatus::kUnsupported,
                       "the cabinet is part of a cabinet set; the launcher extracts one cabinet on its own");
    }
    // From here on the cabinet's own size bounds every read.
    const ByteView view = bytes.Slice(0, cabinet.declaredSize);

    std::uint64_t offset = kHeaderSize;
    std::uint8_t folderReserve = 0;
    if (cabinet.flags & kFlagReservePresent) {
        std::uint16_t headerReserve = 0;
        if (!view.Read16(36, headerReserve) || !view.Read8(38, folderReserve) || !view.Read8(39, cabinet.dataReserve)) {
            return Problem(CabinetStatus::kDamaged, "damaged cabinet: it ends inside its reserve sizes");
        }
        offset = 40 + static_cast<std::uint64_t>(headerReserve);
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
        view.Read32(offset, file.size);
        view.Read32(offset + 4, file.folderOffset);
        view.Read16(offset + 8, file.folder);
        view.Read16(offset + 10, file.date);
        view.Read16(offset + 12, file.time);
        view.Read16(offset + 14, file.attributes);
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
    return {};
}

CabinetCheck DecodeCabinetData(ByteView bytes, const Cabinet& cabinet, std::size_t digestIndex,
                               CabinetDataReport& report) {
    report = CabinetDataReport{};
    const ByteView view = bytes.Slice(0, cabinet.declaredSize);
    for (std::size_t f = 0; f < cabinet.folders.size(); ++f) {
        const std::uint16_t method = cabinet.folders[f].compression & 0x0F;
        if (method != kCompressionNone && method != kCompressionMszip) {
            return Problem(CabinetStatus::kUnsupported,
                           "folder " + std::to_string(f) + " uses " +
                               (method == 2 ? std::string("Quantum") : method == 3 ? std::string("LZX") : "unknown") +
                               " compression (method " + std::to_string(method) + "), which this inspector does not decode");
        }
    }

    const CabinetFile* digested = digestIndex < cabinet.files.size() ? &cabinet.files[digestIndex] : nullptr;
    packer::Md5 md5;
    std::vector<std::uint8_t> out(kMaxBlockSize);
    std::vector<std::uint8_t> history;
    std::vector<std::uint64_t> folderSizes;  // uncompressed bytes per folder
    for (std::size_t f = 0; f < cabinet.folders.size(); ++f) {
        const CabinetFolder& folder = cabinet.folders[f];
        const std::string where = "folder " + std::to_string(f);
        MszipDecoder mszip;
        history.clear();
        std::uint64_t offset = folder.dataOffset;
        std::uint64_t folderBytes = 0;
        for (std::uint32_t b = 0; b < folder.blockCount; ++b) {
            const std::string block = "data block " + std::to_string(b) + " of " + where + " (at " + Hex(offset) + ")";
            // Blocks do not share bytes, so a cabinet holds at most one per header's worth of bytes;
            // folders that claim more share blocks, and decoding them all could take all day.
            if (report.blocks >= cabinet.declaredSize / kDataHeaderSize) {
                return Problem(CabinetStatus::kDamaged,
                               "damaged cabinet: its folders claim more data blocks than its size can hold");
            }
            std::uint32_t checksum = 0;
            std::uint16_t compressedSize = 0, size = 0;
            const std::uint64_t dataStart = offset + kDataHeaderSize + cabinet.dataReserve;
            if (!view.Has(offset, kDataHeaderSize + cabinet.dataReserve)) {
                return Problem(CabinetStatus::kDamaged, "damaged cabinet: " + block + " lies past the cabinet's end");
            }
            view.Read32(offset, checksum);
            view.Read16(offset + 4, compressedSize);
            view.Read16(offset + 6, size);
            if (!view.Has(dataStart, compressedSize)) {
                return Problem(CabinetStatus::kDamaged, "damaged cabinet: " + block + " runs past the cabinet's end");
            }
            const std::uint8_t* data = view.data() + dataStart;
            if (checksum != 0) {
                ++report.checksummedBlocks;
                if (CabinetChecksum(view.data() + offset + 4, 4, CabinetChecksum(data, compressedSize, 0)) != checksum) {
                    return Problem(CabinetStatus::kDamaged, "damaged cabinet: " + block + " fails its checksum");
                }
            }
            if (size == 0 || size > kMaxBlockSize) {
                return Problem(CabinetStatus::kDamaged, "damaged cabinet: " + block + " gives an uncompressed size of " +
                                                            std::to_string(size) + " bytes");
            }
            if ((folder.compression & 0x0F) == kCompressionNone) {
                if (compressedSize != size) {
                    return Problem(CabinetStatus::kDamaged, "damaged cabinet: stored " + block + " holds " +
                                                                std::to_string(compressedSize) + " bytes but gives " +
                                                                std::to_string(size));
                }
                std::memcpy(out.data(), data, size);
            } else {
                std::string why;
                if (!mszip.Block(data, compressedSize, history, out.data(), size, why)) {
                    return Problem(CabinetStatus::kDamaged, "damaged cabinet: " + block + " " + why);
                }
                history.insert(history.end(), out.begin(), out.begin() + size);
                if (history.size() > kMaxBlockSize) history.erase(history.begin(), history.end() - kMaxBlockSize);
            }

            if (digested != nullptr && digested->folder == f) {
                const std::uint64_t fileStart = digested->folderOffset;
                const std::uint64_t fileEnd = fileStart + digested->size;
                const std::uint64_t from = fileStart > folderBytes ? fileStart : folderBytes;
                const std::uint64_t to = fileEnd < folderBytes + size ? fileEnd : folderBytes + size;
                if (from < to) md5.Update(out.data() + (from - folderBytes), static_cast<std::size_t>(to - from));
            }
            folderBytes += size;
            offset = dataStart + compressedSize;
            ++report.blocks;
        }
        report.uncompressedBytes += folderBytes;
        folderSizes.push_back(folderBytes);
    }
    for (const CabinetFile& file : cabinet.files) {
        const std::uint64_t end = static_cast<std::uint64_t>(file.folderOffset) + file.size;
        if (end > folderSizes[file.folder]) {
            return Problem(CabinetStatus::kDamaged,
                           "damaged cabinet: file " + Quoted(file.name) + " (bytes " + std::to_string(file.folderOffset) +
                               " to " + std::to_string(end) + " of folder " + std::to_string(file.folder) +
                               ") lies past the folder's " + std::to_string(folderSizes[file.folder]) + " bytes of data");
        }
    }
    if (digested != nullptr) report.digest = md5.FinishHex();
    return {};
}

std::string FormatDosDateTime(std::uint16_t date, std::uint16_t time) {
    static constexpr unsigned kDaysInMonth[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const unsigned year = 1980u + (date >> 9), month = (date >> 5) & 15u, day = date & 31u;
    const unsigned hour = time >> 11, minute = (time >> 5) & 63u, second = (time & 31u) * 2;
    if (month < 1 || month > 12 || day < 1 || day > kDaysInMonth[month - 1] ||
        (month == 2 && day == 29 && !IsLeapYear(year)) || hour > 23 || minute > 59 || second > 59) {
        return {};
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", year, month, day, hour, minute, second);
    return text;
}

}  // namespace inspector
