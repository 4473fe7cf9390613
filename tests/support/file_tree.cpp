// Folder trees the tests make and remove.
#include "tests/support/file_tree.h"

#include <windows.h>

namespace qarv::test {

std::vector<std::wstring> ListFolder(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return names;
}

void RemoveTree(const std::wstring& folder) {
    for (const std::wstring& name : ListFolder(folder)) {
        const std::wstring path = folder + L"\\" + name;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        // A folder refuses DeleteFileW: then it is a tree of its own.
        if (!DeleteFileW(path.c_str())) RemoveTree(path);
    }
    RemoveDirectoryW(folder.c_str());
}

}  // namespace qarv::test
