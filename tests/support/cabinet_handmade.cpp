// Hand-made cabinets: the published cabinet layout (header, one folder, file entries, data
// blocks), uncompressed, no checksums.
#include "tests/support/cabinet_handmade.h"

#include <windows.h>

#include <algorithm>

#include "common/unique_handle.h"

namespace qarv::test {

namespace {

constexpr size_t kHeaderSize = 36;
constexpr size_t kFolderSize = 8;
constexpr size_t kFileEntrySize = 16;  // before the name
constexpr size_t kDataHeaderSize = 8;
constexpr size_t kBlockSize = 32768;

void Put16(std::vector<unsigned char>& out, uint32_t value) {
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

void Put32(std::vector<unsigned char>& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

}  // namespace

std::vector<unsigned char> MakeHandmadeCabinet(const std::vector<HandmadeCabinetFile>& files,
                                               const HandmadeCabinetSet& set) {
    // The names of the previous and next cabinet and disk follow the fixed header, each terminated.
    const bool hasPrevious = !set.previousCabinet.empty();
    const bool hasNext = !set.nextCabinet.empty();
    std::string setNames;
    if (hasPrevious) setNames += set.previousCabinet + '\0' + set.previousDisk + '\0';
    if (hasNext) setNames += set.nextCabinet + '\0' + set.nextDisk + '\0';

    std::string stream;
    size_t entriesSize = 0;
    for (const auto& file : files) {
        stream += file.data;
        entriesSize += kFileEntrySize + file.name.size() + 1;
    }
    const size_t blockCount = (stream.size() + kBlockSize - 1) / kBlockSize;
    const size_t filesOffset = kHeaderSize + setNames.size() + kFolderSize;
    const size_t dataOffset = filesOffset + entriesSize;
    const size_t totalSize = dataOffset + blockCount * kDataHeaderSize + stream.size();

    std::vector<unsigned char> out;
    for (char c : {'M', 'S', 'C', 'F'}) out.push_back(static_cast<unsigned char>(c));
    Put32(out, 0);
    Put32(out, static_cast<uint32_t>(totalSize));
    Put32(out, 0);
    Put32(out, static_cast<uint32_t>(filesOffset));
    Put32(out, 0);
    out.push_back(3);  // version 1.3
    out.push_back(1);
    Put16(out, 1);  // folders
    Put16(out, static_cast<uint32_t>(files.size()));
    Put16(out, (hasPrevious ? 0x0001 : 0) | (hasNext ? 0x0002 : 0));  // flags; no reserve
    Put16(out, 0x1234);
    Put16(out, hasPrevious ? 1 : 0);  // the cabinet's number in its set
    out.insert(out.end(), setNames.begin(), setNames.end());

    Put32(out, static_cast<uint32_t>(dataOffset));
    Put16(out, static_cast<uint32_t>(blockCount));
    Put16(out, 0);  // no compression

    uint32_t offset = 0;
    for (const auto& file : files) {
        Put32(out, file.declaredSize != 0 ? file.declaredSize : static_cast<uint32_t>(file.data.size()));
        Put32(out, offset);
        Put16(out, file.folder);
        Put16(out, file.date);
        Put16(out, file.time);
        Put16(out, file.attributes);
        out.insert(out.end(), file.name.begin(), file.name.end());
        out.push_back(0);
        offset += static_cast<uint32_t>(file.data.size());
    }

    for (size_t start = 0; start < stream.size(); start += kBlockSize) {
        const size_t count = std::min(kBlockSize, stream.size() - start);
        // A cabinet that continues in the next one ends in a block split between the two, whose
        // uncompressed size is written as 0.
        const bool split = hasNext && start + count == stream.size();
        Put32(out, 0);  // no checksum
        Put16(out, static_cast<uint32_t>(count));
        Put16(out, split ? 0 : static_cast<uint32_t>(count));
        out.insert(out.end(), stream.begin() + start, stream.begin() + start + count);
    }
    return out;
}

bool WriteBytes(const std::wstring& path, const std::vector<unsigned char>& bytes) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

}  // namespace qarv::test
