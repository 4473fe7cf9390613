// Running the packer's helper programs (gcab, cabextract) without a shell.
#pragma once

#include <string>
#include <vector>

namespace qarv::tools::packer {

// Runs `arguments` (the program is found on PATH) and waits. Returns its exit status, or -1 when
// it could not be started or did not exit normally. With `output` set, collects its standard
// output; its error output goes to `errors` (both may be null).
int RunProgram(const std::vector<std::string>& arguments, std::string* output, std::string* errors);

}  // namespace qarv::tools::packer
