// The layout of a Microsoft cabinet and the reading of its directory (header, folders, file list),
// shared by the packer and the inspector so that both read a cabinet the same way.
// Format reference: https://learn.microsoft.com/previous-versions/bb417343(v=msdn.10)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "byte_view.h"

namespace qarv::tools {

constexpr std::uint64_t kCabinetHeaderSize = 36;  // CFHEADER without its optional reserve fields
constexpr std::uint16_t kFlagPreviousCabinet = 0x0001;
constexpr std::uint16_t kFlagNextCabinet = 0x0002;
constexpr std::uint16_t kFlagReservePresent = 0x0004;
constexpr std::uint64_t kFolderRecordSize = 8;  // CFFOLDER without its reserve
constexpr std::uint64_t kFileRecordSize = 16;   // CFFILE up to its name
constexpr std::uint64_t kDataHeaderSize = 8;    // CFDATA without its reserve
// Fields of a CFFILE record, from its start.
constexpr std::uint64_t kFileDateField = 10;
constexpr std::uint64_t kFileTimeField = 12;
constexpr std::uint64_t kFileAttributesField = 14;
// A data block holds at most 32 KiB uncompressed and a folder at most 65,535 blocks (its count is
// 16 bits), so no file, and no folder's files together, can pass kLargestFolderData bytes.
constexpr std::uint64_t kLargestDataBlock = 32768;
constexpr std::uint64_t kMostDataBlocks = 65535;
constexpr std::uint64_t kLargestFolderData = 2147450880;
static_assert(kLargestFolderData == kMostDataBlocks * kLargestDataBlock, "65,535 blocks of 32 KiB");
// Folder indexes 0xFFFD to 0xFFFF mark a file shared with the cabinet before or after this one.
constexpr std::uint16_t kFirstContinuedFolder = 0xFFFD;

// The compression method is the low four bits of a folder's typeCompress.
constexpr std::uint16_t kCompressionMask = 0x0F;
constexpr std::uint16_t kCompressionNone = 0;
constexpr std::uint16_t kCompressionMszip = 1;
constexpr std::uint16_t kCompressionQuantum = 2;
constexpr std::uint16_t kCompressionLzx = 3;

// Attribute bits of a cabinet file, as the launcher restores them.
constexpr std::uint16_t kAttributeReadOnly = 0x01;
constexpr std::uint16_t kAttributeHidden = 0x02;
constexpr std::uint16_t kAttributeSystem = 0x04;
constexpr std::uint16_t kAttributeArchive = 0x20;

enum class CabinetStatus {
    kOk,
    kNotCabinet,   // no MSCF signature; the problem then says what the bytes start with
    kTruncated,    // the cabinet says it is longer than the bytes there are
    kDamaged,      // inconsistent structure, a bad checksum, data that does not decode
    kUnsupported,  // a cabinet set, or a compression method Cabinet.dll does not know either
};

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
    std::uint64_t recordOffset = 0;  // of the file's CFFILE record in the cabinet
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

// Reads the header, folder table and file list of the cabinet at the start of `bytes`; bytes after
// the cabinet's declared size are left alone. Every file it returns lies in a folder of this
// cabinet (no file continues from or into another); the files of a folder go forward without
// overlapping, and only the last file returns to a folder the listing left (kDamaged otherwise),
// so that one extraction decodes no folder more than twice.
CabinetCheck ReadCabinetDirectory(ByteView bytes, Cabinet& cabinet);

// "stored", "MSZIP", "Quantum", "LZX" or "unknown", for a folder's typeCompress.
const char* CompressionName(std::uint16_t compression);

// The checksum of a data block (seed 0 over the data, then over its two size fields).
std::uint32_t CabinetChecksum(const std::uint8_t* data, std::size_t size, std::uint32_t seed);

}  // namespace qarv::tools
