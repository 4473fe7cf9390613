// Decoding all of a cabinet's data, and digesting one file of it.
#include "cabinet_data.h"

#include <zlib.h>

#include <cstring>
#include <vector>

#include "cabinet_text.h"
#include "digest.h"

namespace qarv::tools::inspector {

using namespace tools;

namespace {

// MSZIP blocks, and stored blocks as cabinet makers write them, hold at most 32 KiB; it is also the
// deflate history a block may reach back into.
constexpr std::size_t kMaxBlockSize = kLargestDataBlock;

CabinetCheck Problem(CabinetStatus status, const std::string& problem) { return {status, problem}; }

std::string Quoted(const std::string& name) { return "'" + name + "'"; }

bool DecodedHere(std::uint16_t compression) {
    const std::uint16_t method = compression & kCompressionMask;
    return method == kCompressionNone || method == kCompressionMszip;
}

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

}  // namespace

CabinetCheck DecodeCabinetData(ByteView bytes, const Cabinet& cabinet, std::size_t digestIndex,
                               CabinetDataReport& report) {
    report = CabinetDataReport{};
    const ByteView view = bytes.Slice(0, cabinet.declaredSize);
    for (std::size_t f = 0; f < cabinet.folders.size(); ++f) {
        const std::uint16_t method = cabinet.folders[f].compression & kCompressionMask;
        if (method > kCompressionLzx) {
            return Problem(CabinetStatus::kUnsupported, "folder " + std::to_string(f) + " uses compression method " +
                                                            std::to_string(method) +
                                                            ", which Cabinet.dll does not decode either");
        }
        // Quantum and LZX name their window in bits 8 to 12: 2^10 to 2^21 bytes for Quantum, 2^15
        // to 2^21 for LZX (tcompQUANTUM_MEM_LO/HI, tcompLZX_WINDOW_LO/HI in fci.h).
        const unsigned windowBits = (cabinet.folders[f].compression >> 8) & 0x1F;
        const unsigned fewestBits = method == kCompressionLzx ? 15 : 10;
        if ((method == kCompressionLzx || method == kCompressionQuantum) && (windowBits < fewestBits || windowBits > 21)) {
            return Problem(CabinetStatus::kDamaged, "damaged cabinet: folder " + std::to_string(f) + " gives its " +
                                                        CompressionName(method) + " data a window of 2^" +
                                                        std::to_string(windowBits) + " bytes");
        }
    }

    const CabinetFile* digested = digestIndex < cabinet.files.size() ? &cabinet.files[digestIndex] : nullptr;
    if (digested != nullptr && !DecodedHere(cabinet.folders[digested->folder].compression)) digested = nullptr;
    Digest md5(DigestAlgorithm::kMd5);
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
            const std::string block = "data block " + std::to_string(b) + " of " + where + " (at " + HexNumber(offset) + ")";
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
            // Quantum and LZX blocks are checked above and decoded by the platform's decoder only.
            const std::uint16_t method = folder.compression & kCompressionMask;
            if (method == kCompressionNone) {
                if (compressedSize != size) {
                    return Problem(CabinetStatus::kDamaged, "damaged cabinet: stored " + block + " holds " +
                                                                std::to_string(compressedSize) + " bytes but gives " +
                                                                std::to_string(size));
                }
                std::memcpy(out.data(), data, size);
            } else if (method == kCompressionMszip) {
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
    if (digested != nullptr) report.digest = HexBytes(md5.Finish());
    return {};
}

}  // namespace qarv::tools::inspector
