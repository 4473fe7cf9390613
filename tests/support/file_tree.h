// Files and folder trees the tests make, read and remove.
#pragma once

#include <string>
#include <vector>

namespace qarv::test {

// The names in `folder`, without "." and ".."; empty when it cannot be listed.
std::vector<std::wstring> ListFolder(const std::wstring& folder);

// Deletes `folder` and everything below it, read-only files included. Best effort.
void RemoveTree(const std::wstring& folder);

// True when a file or folder of that name exists.
bool PathExists(const std::wstring& path);

// The file's bytes, or "<missing>" when it cannot be opened, so that a failed comparison says why.
std::string ReadAll(const std::wstring& path);

// The user's temporary folder, without its trailing backslash.
std::wstring TemporaryFolder();

}  // namespace qarv::test
