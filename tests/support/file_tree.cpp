// Files and folder trees the tests make, read and remove.
#include "tests/support/file_tree.h"

#include <windows.h>

#include "common/unique_handle.h"

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

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadAll(const std::wstring& path) {
    qarv::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return "<missing>";
    std::string bytes(GetFileSize(file.get(), nullptr), '\0');
    DWORD read = 0;
    if (!bytes.empty()) ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    return bytes;
}

std::wstring TemporaryFolder() {
    wchar_t path[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, path);
    std::wstring folder(path);
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder;
}

}  // namespace qarv::test
