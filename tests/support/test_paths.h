// Where the tests find the programs of this build.
#pragma once

#include <string>

namespace qarv::test {

// The folder that holds the running test program (the build's bin folder), without a trailing
// backslash.
std::wstring ProgramFolder();

// The x86_64 launcher beside the tests.
std::wstring LauncherPath();

// A Unix path of the build machine as Wine's Z: drive shows it.
std::wstring FromUnixPath(const std::string& unixPath);

}  // namespace qarv::test
