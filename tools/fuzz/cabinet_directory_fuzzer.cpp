// libFuzzer target: the tools' one reader of a cabinet's directory (header, folders, file list),
// which the packer and the inspector share. Every file it returns must lie in one of its folders,
// after the files of that folder before it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "cabinet_directory.h"
#include "cabinet_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qarv::tools;
    Cabinet cabinet;
    const CabinetCheck check = ReadCabinetDirectory(ByteView(data, size), cabinet);
    if (check.status != CabinetStatus::kOk) return 0;
    if (cabinet.declaredSize > size) std::abort();
    std::vector<std::uint64_t> reached(cabinet.folders.size(), 0);
    for (const CabinetFile& file : cabinet.files) {
        if (file.folder >= cabinet.folders.size() || file.recordOffset >= cabinet.declaredSize) std::abort();
        if (file.folderOffset < reached[file.folder]) std::abort();
        reached[file.folder] = static_cast<std::uint64_t>(file.folderOffset) + file.size;
        PrintableText(file.name);
        FormatAttributes(file.attributes);
        DescribeDosDateTime(file.date, file.time);
    }
    return 0;
}
