// libFuzzer target: the file-name rule the launcher, the packer and the inspector share, over a
// cabinet's names as the tools read them. The input is a list of names, each ended by a NUL byte
// and led by one byte of attributes (0x80: the name is flagged UTF-8).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher_name_rule.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qarv::tools;
    std::vector<CabinetFile> files;
    std::size_t at = 0;
    while (at < size && files.size() < 64) {
        CabinetFile file;
        file.attributes = data[at++];
        const std::size_t start = at;
        while (at < size && data[at] != 0) ++at;
        file.name.assign(reinterpret_cast<const char*>(data + start), at - start);
        ++at;
        files.push_back(std::move(file));
    }
    for (const RefusedName& refused : RefusedNames(files)) {
        if (refused.index >= files.size() || refused.clashesWith >= files.size()) std::abort();
        // Two names of one file: the earlier one is named, and it is another file.
        if (refused.problem == qarv::NameProblem::kSameFile && refused.clashesWith >= refused.index) std::abort();
        DescribeRefusedName(files, refused, "");
    }
    return 0;
}
