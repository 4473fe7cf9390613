// Reading a single Microsoft cabinet held in memory: its header, folders and file list, and a full
// decode of its data (stored or MSZIP) that checks every block and digests one file.
// Format reference: https://learn.microsoft.com/previous-versions/bb417343(v=msdn.10)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "byte_view.h"

namespace inspector {

enum class CabinetStatus {
    kOk,
    kNotCabinet,   // no MSCF signature; the problem then says what the bytes start with
    kTruncated,    // the cabinet says it is longer than the bytes there are
    kDamaged,      // inconsistent structure, a bad checksum, data that does not decode
    kUnsupported,  // a cabinet set, or a compression this reader does not decode (Quantum, LZX)
};

constexpr std::uint16_t kCompressionNone = 0;
constexpr std::uint16_t kCompressionMszip = 1;

struct CabinetFolder {
    std::uint32_t dataOffset = 0;  // of its first data block
    std::uint16_t blockCount = 0;
    std::uint16_t compression = 0;  // the low four bits name the method
};

struct CabinetFile {
    std::string name;  // the bytes as the cabinet holds them
    std::uint32_t size = 0;
    std::uint32_t folderOffset = 0;  // of the file's first byte in its folder's uncompressed data
    std::uint16_t folder = 0;
    std::uint16_t date = 0;  // MS-DOS date and time, local time
    std::uint16_t time = 0;
    std::uint16_t attributes = 0;
};

struct Cabinet {
    std::uint32_t declaredSize = 0;  // cbCabinet
    std::uint8_t versionMajor = 0;
    std::uint8_t versionMinor = 0;
    std::uint16_t flags = 0;
    std::uint8_t dataReserve = 0;  // per data block
    std::vector<CabinetFolder> folders;
    std::vector<CabinetFile> files;  // in cabinet order, the order an extraction writes and closes them
};

struct CabinetCheck {
    CabinetStatus status = CabinetStatus::kOk;
    std::string problem;  // says what is wrong when status is not kOk
};

// Reads the header, folder table and file list of the cabinet at the start of `bytes`.
// Every file it returns lies in a folder of this cabinet (no file continues from or into another).
CabinetCheck ReadCabinetDirectory(ByteView bytes, Cabinet& cabinet);

struct CabinetDataReport {
    std::size_t blocks = 0;
    std::size_t checksummedBlocks = 0;  // blocks that carry a checksum (all of them checked)
    std::uint64_t uncompressedBytes = 0;
    std::string digest;  // MD5 of the file asked for, 32 upper-case hexadecimal digits
};

// Decodes every folder of `cabinet` (as read by ReadCabinetDirectory from the same bytes), checks
// each data block's checksum and sizes and that every file lies inside its folder's data, and
// digests file `digestIndex` (none when it is out of range). Time and memory stay bounded by the
// blocks the cabinet holds: one 32 KiB block and a 32 KiB history at a time.
CabinetCheck DecodeCabinetData(ByteView bytes, const Cabinet& cabinet, std::size_t digestIndex,
                               CabinetDataReport& report);

// The checksum of a data block (seed 0 over the data, then over its two size fields).
std::uint32_t CabinetChecksum(const std::uint8_t* data, std::size_t size, std::uint32_t seed);

// "2009-03-16 08:30:00", or empty when the MS-DOS date or time is not a real one.
std::string FormatDosDateTime(std::uint16_t date, std::uint16_t time);

}  // namespace inspector
