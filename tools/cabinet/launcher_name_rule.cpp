// The launcher's own file-name rule over a cabinet's files.
#include "launcher_name_rule.h"

#include "cabinet_text.h"

namespace qarv::tools {

namespace {

// Without the UTF-8 flag the launcher's cabinet library reads a name in the PC's ANSI code page.
// No byte of 0x80 and above means the same character in all of Windows' ANSI code pages (874,
// 932, 936, 949, 950, 1250 to 1258), so only an ASCII name is one name on every PC.
bool IsAscii(const std::string& bytes) {
    for (unsigned char c : bytes) {
        if (c >= 0x80) return false;
    }
    return true;
}

}  // namespace

std::vector<RefusedName> RefusedNames(const std::vector<CabinetFile>& files) {
    std::vector<RefusedName> refused;
    std::vector<std::u16string> names;
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::u16string name;
        const bool utf8 = (files[i].attributes & qarv::kCabinetNameIsUtf8) != 0;
        if (!utf8 && !IsAscii(files[i].name)) {
            refused.push_back({i, qarv::NameProblem::kDependsOnCodePage, i});
        } else if (!qarv::DecodeCabinetName(files[i].name, utf8, name)) {
            refused.push_back({i, qarv::NameProblem::kNotUtf8, i});
        }
        // A name refused here still takes its place, empty, so that the indexes below match the files.
        if (!refused.empty() && refused.back().index == i) name.clear();
        names.push_back(name);
    }
    for (const qarv::NamedProblem& problem : qarv::CheckPayloadNames(names)) {
        // A name refused above stands in as an empty one: its own finding is already there.
        if (names[problem.index].empty() && !files[problem.index].name.empty()) continue;
        refused.push_back({problem.index, problem.problem, problem.clashesWith});
    }
    return refused;
}

std::string DescribeRefusedName(const std::vector<CabinetFile>& files, const RefusedName& refused, const char* where) {
    std::string text = "file '" + PrintableText(files[refused.index].name) + "'" + where + " " +
                       qarv::DescribeNameProblem(refused.problem);
    if (refused.problem == qarv::NameProblem::kSameFile) {
        text += ": '" + PrintableText(files[refused.clashesWith].name) + "'";
    }
    return text;
}

}  // namespace qarv::tools
