// Path decisions of the cabinet extraction.
#include "payload/cabinet_names.h"

#include <cwchar>

namespace qarv {

bool JoinCabinetPath(wchar_t* out, size_t capacity, const wchar_t* folder, const wchar_t* name) {
    if (out == nullptr || capacity == 0) return false;
    out[0] = L'\0';
    if (folder == nullptr || name == nullptr) return false;
    const size_t folderLength = std::wcslen(folder);
    const size_t nameLength = std::wcslen(name);
    if (folderLength >= capacity || nameLength >= capacity - folderLength) return false;
    std::wmemcpy(out, folder, folderLength);
    std::wmemcpy(out + folderLength, name, nameLength + 1);
    return true;
}

}  // namespace qarv
