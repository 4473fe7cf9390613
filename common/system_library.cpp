// Loading a DLL of the system by its full path.
#include "common/system_library.h"

#include <cwchar>

namespace qarv {

UniqueModule LoadSystemLibrary(const wchar_t* fileName) {
    wchar_t path[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    const size_t nameLength = fileName != nullptr ? std::wcslen(fileName) : 0;
    // Room for the directory, a backslash, the name and its terminator.
    if (length == 0 || nameLength == 0 || length + 1 + nameLength + 1 > MAX_PATH) return UniqueModule();
    path[length] = L'\\';
    std::wmemcpy(path + length + 1, fileName, nameLength + 1);
    return UniqueModule(LoadLibraryW(path));
}

}  // namespace qarv
