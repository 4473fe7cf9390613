// Folder trees the tests make and remove: listing a folder and deleting a whole tree.
#pragma once

#include <string>
#include <vector>

namespace qarv::test {

// The names in `folder`, without "." and ".."; empty when it cannot be listed.
std::vector<std::wstring> ListFolder(const std::wstring& folder);

// Deletes `folder` and everything below it, read-only files included. Best effort.
void RemoveTree(const std::wstring& folder);

}  // namespace qarv::test
