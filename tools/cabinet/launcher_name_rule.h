// The launcher's own file-name rule (payload/file_name_rule.h) over a cabinet's files, so that the
// packer never packs what the launcher refuses and the inspector says why it would.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cabinet_directory.h"
#include "payload/file_name_rule.h"

namespace qarv::tools {

struct RefusedName {
    std::size_t index = 0;  // of the file refused
    qarv::NameProblem problem = qarv::NameProblem::kNone;
    std::size_t clashesWith = 0;  // for kSameFile, the earlier file that is the same file to Windows
};

// Every name the launcher refuses or may read as another name: first the names flagged UTF-8 that
// are not and the unflagged names beyond ASCII, then the rule's findings, each in cabinet order.
// Empty when the launcher extracts every name as the tools read it.
std::vector<RefusedName> RefusedNames(const std::vector<CabinetFile>& files);

// "file 'NAME'<where> is a device name Windows reserves", with ": 'OTHER'" for a clash; names are
// printed with their control bytes escaped.
std::string DescribeRefusedName(const std::vector<CabinetFile>& files, const RefusedName& refused, const char* where);

}  // namespace qarv::tools
