// The launcher's own file-name rule over a cabinet's files.
#include "launcher_name_rule.h"

#include "cabinet_text.h"

namespace tools {

std::vector<RefusedName> RefusedNames(const std::vector<CabinetFile>& files) {
    std::vector<RefusedName> refused;
    std::vector<std::u16string> names;
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::u16string name;
        if (!qarv::DecodeCabinetName(files[i].name, (files[i].attributes & qarv::kCabinetNameIsUtf8) != 0, name)) {
            refused.push_back({i, qarv::NameProblem::kNotUtf8, i});
            name.clear();  // still takes its place, so that the indexes below match the files
        }
        names.push_back(name);
    }
    for (const qarv::NamedProblem& problem : qarv::CheckPayloadNames(names)) {
        // An undecodable name stands in as an empty one: its own finding is already there.
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

}  // namespace tools
