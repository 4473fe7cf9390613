// Hand-made cabinets for the extraction tests: uncompressed, one folder, with whatever names,
// attributes and MS-DOS dates a test asks for, including ones gcab will not write.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qarv::test {

struct HandmadeCabinetFile {
    std::string name;  // stored as given: ANSI bytes, any separators
    std::string data;
    uint16_t date = 0x3A2F;  // 2009-01-15
    uint16_t time = 0x528F;  // 10:20:30
    uint16_t attributes = 0x20;
    uint16_t folder = 0;        // 0xFFFD, 0xFFFE, 0xFFFF: continued from or into another cabinet
    uint32_t declaredSize = 0;  // the size the entry claims; 0: the data's own size
};

// The cabinets a cabinet says it follows and continues in; empty names: it stands alone. With a
// next cabinet, the last data block is split: it goes on in that cabinet.
struct HandmadeCabinetSet {
    std::string previousCabinet, previousDisk;
    std::string nextCabinet, nextDisk;
};

// The bytes of a cabinet holding `files` in this order, data split into 32 KiB blocks.
std::vector<unsigned char> MakeHandmadeCabinet(const std::vector<HandmadeCabinetFile>& files,
                                               const HandmadeCabinetSet& set = {});

// Writes `bytes` to `path`; false on any failure.
bool WriteBytes(const std::wstring& path, const std::vector<unsigned char>& bytes);

}  // namespace qarv::test
