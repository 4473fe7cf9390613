// Where the tests find the programs of this build.
#include "tests/support/test_paths.h"

#include <windows.h>

namespace qarv::test {

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

std::wstring LauncherPath() { return ProgramFolder() + L"\\QarvPro 2009 Setup.exe"; }

std::wstring FromUnixPath(const std::string& unixPath) {
    std::wstring path = L"Z:";
    for (char c : unixPath) path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return path;
}

}  // namespace qarv::test
