// Decoding all of a cabinet's data, and digesting one file of it.
#include "cabinet_data.h"

#include <zlib.h>

#include <cstring>
#include <vector>

#include "cabinet_text.h"
#include "digest.h"

namespace qarv::tools::inspector {

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

// Quantum and LZX name their window in bits 8 to 12: 2^10 to 2^21 bytes for Quantum, 2^15 to
// 2^21 for LZX (tcompQUANTUM_MEM_LO/HI, tcompLZX_WINDOW_LO/HI in fci.h).
CabinetCheck CheckCompressions(const Cabinet& cabinet) {
    for (std::size_t f = 0; f < cabinet.folders.size(); ++f) {
        const std::uint16_t method = cabinet.folders[f].compression & kCompressionMask;
        if (method > kCompressionLzx) {
            return Problem(CabinetStatus::kUnsupported, "folder " + std::to_string(f) + " uses compression method " +
                                                            std::to_string(method) +
                                                            ", which Cabinet.dll does not decode either");
        }
        const unsigned windowBits = (cabinet.folders[f].compression >> 8) & 0x1F;
        const unsigned fewestBits = method == kCompressionLzx ? 15 : 10;
        if ((method == kCompressionLzx || method == kCompressionQuantum) && (windowBits < fewestBits || windowBits > 21)) {
            return Problem(CabinetStatus::kDamaged, "damaged cabinet: folder " + std::to_string(f) + " gives its " +
                                                        CompressionName(method) + " data a window of 2^" +
                                                        std::to_string(windowBits) + " bytes");
        }
    }
    return {};
}

// One data block's header fields and where its data starts.
struct DataBlock {
    std::uint32_t checksum = 0;
    std::uint16_t compressedSize = 0;
    std::uint16_t size = 0;
    std::uint64_t dataStart = 0;
};

// Walks every folder's data blocks in order, checking and decoding each; one per cabinet.
class DataDecoder {
public:
    DataDecoder(ByteView bytes, const Cabinet& cabinet, std::size_t digestIndex, CabinetDataReport& report)
        : m_view(bytes.Slice(0, cabinet.declaredSize)), m_cabinet(cabinet), m_report(report), m_out(kMaxBlockSize) {
        if (digestIndex < cabinet.files.size()) m_digested = &cabinet.files[digestIndex];
        if (m_digested != nullptr && !DecodedHere(cabinet.folders[m_digested->folder].compression)) m_digested = nullptr;
    }

    CabinetCheck Run() {
        for (std::size_t f = 0; f < m_cabinet.folders.size(); ++f) {
            std::uint64_t folderBytes = 0;
            const CabinetCheck check = DecodeFolder(f, folderBytes);
            if (check.status != CabinetStatus::kOk) return check;
            m_report.uncompressedBytes += folderBytes;
            m_folderSizes.push_back(folderBytes);
        }
        const CabinetCheck check = CheckFilesInFolders();
        if (check.status != CabinetStatus::kOk) return check;
        if (m_digested != nullptr) m_report.digest = HexBytes(m_md5.Finish());
        return {};
    }

private:
    CabinetCheck DecodeFolder(std::size_t f, std::uint64_t& folderBytes);
    CabinetCheck ReadBlockHeader(std::uint64_t offset, const std::string& block, DataBlock& header);
    CabinetCheck DecodeBlock(std::uint16_t method, const DataBlock& header, const std::string& block);
    void DigestBlock(std::size_t f, std::uint64_t folderBytes, std::uint16_t size);
    CabinetCheck CheckFilesInFolders() const;

    ByteView m_view;
    const Cabinet& m_cabinet;
    CabinetDataReport& m_report;
    const CabinetFile* m_digested = nullptr;
    Digest m_md5{DigestAlgorithm::kMd5};
    std::vector<std::uint8_t> m_out;      // the block just decoded
    std::vector<std::uint8_t> m_history;  // the folder's last 32 KiB, which MSZIP reaches back into
    MszipDecoder m_mszip;                 // reset for every block: a folder's state is its history
    std::vector<std::uint64_t> m_folderSizes;  // uncompressed bytes per folder
};

CabinetCheck DataDecoder::DecodeFolder(std::size_t f, std::uint64_t& folderBytes) {
    const CabinetFolder& folder = m_cabinet.folders[f];
    const std::string where = "folder " + std::to_string(f);
    m_history.clear();
    std::uint64_t offset = folder.dataOffset;
    for (std::uint32_t b = 0; b < folder.blockCount; ++b) {
        const std::string block = "data block " + std::to_string(b) + " of " + where + " (at " + HexNumber(offset) + ")";
        // Blocks do not share bytes, so a cabinet holds at most one per header's worth of bytes;
        // folders that claim more share blocks, and decoding them all could take all day.
        if (m_report.blocks >= m_cabinet.declaredSize / kDataHeaderSize) {
            return Problem(CabinetStatus::kDamaged,
                           "damaged cabinet: its folders claim more data blocks than its size can hold");
        }
        DataBlock header;
        CabinetCheck check = ReadBlockHeader(offset, block, header);
        if (check.status != CabinetStatus::kOk) return check;
        check = DecodeBlock(folder.compression & kCompressionMask, header, block);
        if (check.status != CabinetStatus::kOk) return check;
        DigestBlock(f, folderBytes, header.size);
        folderBytes += header.size;
        offset = header.dataStart + header.compressedSize;
        ++m_report.blocks;
    }
    return {};
}

// The block's header: its bounds, its checksum and its uncompressed size.
CabinetCheck DataDecoder::ReadBlockHeader(std::uint64_t offset, const std::string& block, DataBlock& header) {
    header.dataStart = offset + kDataHeaderSize + m_cabinet.dataReserve;
    if (!m_view.Has(offset, kDataHeaderSize + m_cabinet.dataReserve)) {
        return Problem(CabinetStatus::kDamaged, "damaged cabinet: " + block + " lies past the cabinet's end");
    }
    m_view.Read32(offset, header.checksum);
    m_view.Read16(offset + 4, header.compressedSize);
    m_view.Read16(offset + 6, header.size);
    if (!m_view.Has(header.dataStart, header.compressedSize)) {
        return Problem(CabinetStatus::kDamaged, "damaged cabinet: " + block + " runs past the cabinet's end");
    }
    if (header.checksum != 0) {
        ++m_report.checksummedBlocks;
        const std::uint32_t dataSum = CabinetChecksum(m_view.data() + header.dataStart, header.compressedSize, 0);
        if (CabinetChecksum(m_view.data() + offset + 4, 4, dataSum) != header.checksum) {
            return Problem(CabinetStatus::kDamaged, "damaged cabinet: " + block + " fails its checksum");
        }
    }
    if (header.size == 0 || header.size > kMaxBlockSize) {
        return Problem(CabinetStatus::kDamaged, "damaged cabinet: " + block + " gives an uncompressed size of " +
                                                    std::to_string(header.size) + " bytes");
    }
    return {};
}

// Stored and MSZIP blocks into m_out; Quantum and LZX blocks are checked above and decoded by the
// platform's decoder only.
CabinetCheck DataDecoder::DecodeBlock(std::uint16_t method, const DataBlock& header, const std::string& block) {
    const std::uint8_t* data = m_view.data() + header.dataStart;
    if (method == kCompressionNone) {
        if (header.compressedSize != header.size) {
            return Problem(CabinetStatus::kDamaged, "damaged cabinet: stored " + block + " holds " +
                                                        std::to_string(header.compressedSize) + " bytes but gives " +
                                                        std::to_string(header.size));
        }
        std::memcpy(m_out.data(), data, header.size);
    } else if (method == kCompressionMszip) {
        std::string why;
        if (!m_mszip.Block(data, header.compressedSize, m_history, m_out.data(), header.size, why)) {
            return Problem(CabinetStatus::kDamaged, "damaged cabinet: " + block + " " + why);
        }
        m_history.insert(m_history.end(), m_out.begin(), m_out.begin() + header.size);
        if (m_history.size() > kMaxBlockSize) m_history.erase(m_history.begin(), m_history.end() - kMaxBlockSize);
    }
    return {};
}

// Feeds the MD5 the part of the digested file that the block just decoded holds.
void DataDecoder::DigestBlock(std::size_t f, std::uint64_t folderBytes, std::uint16_t size) {
    if (m_digested == nullptr || m_digested->folder != f) return;
    const std::uint64_t fileStart = m_digested->folderOffset;
    const std::uint64_t fileEnd = fileStart + m_digested->size;
    const std::uint64_t from = fileStart > folderBytes ? fileStart : folderBytes;
    const std::uint64_t to = fileEnd < folderBytes + size ? fileEnd : folderBytes + size;
    if (from < to) m_md5.Update(m_out.data() + (from - folderBytes), static_cast<std::size_t>(to - from));
}

CabinetCheck DataDecoder::CheckFilesInFolders() const {
    for (const CabinetFile& file : m_cabinet.files) {
        const std::uint64_t end = static_cast<std::uint64_t>(file.folderOffset) + file.size;
        if (end > m_folderSizes[file.folder]) {
            return Problem(CabinetStatus::kDamaged,
                           "damaged cabinet: file " + Quoted(file.name) + " (bytes " + std::to_string(file.folderOffset) +
                               " to " + std::to_string(end) + " of folder " + std::to_string(file.folder) +
                               ") lies past the folder's " + std::to_string(m_folderSizes[file.folder]) + " bytes of data");
        }
    }
    return {};
}

}  // namespace

CabinetCheck DecodeCabinetData(ByteView bytes, const Cabinet& cabinet, std::size_t digestIndex,
                               CabinetDataReport& report) {
    report = CabinetDataReport{};
    const CabinetCheck check = CheckCompressions(cabinet);
    if (check.status != CabinetStatus::kOk) return check;
    return DataDecoder(bytes, cabinet, digestIndex, report).Run();
}

}  // namespace qarv::tools::inspector
