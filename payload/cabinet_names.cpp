// Path decisions of the cabinet extraction.
#include "payload/cabinet_names.h"

#include <cstring>

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Dots and spaces only: Windows trims trailing dots and spaces, so "..", ". ." and "... " all
// resolve to the parent or to the folder itself.
bool IsDotsAndSpacesOnly(const char* begin, const char* end) {
    for (const char* p = begin; p != end; ++p) {
        if (*p != '.' && *p != ' ') return false;
    }
    return true;
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension and trailing spaces: the system opens the
// device, not a file in the folder.
bool IsDeviceName(const char* begin, const char* end) {
    const char* stem = begin;
    while (stem != end && *stem != '.') ++stem;
    while (stem != begin && stem[-1] == ' ') --stem;
    const size_t length = static_cast<size_t>(stem - begin);
    char upper[5] = {};
    if (length != 3 && length != 4) return false;
    for (size_t i = 0; i < length; ++i) upper[i] = Upper(begin[i]);
    if (length == 3) {
        return std::strcmp(upper, "CON") == 0 || std::strcmp(upper, "PRN") == 0 ||
               std::strcmp(upper, "AUX") == 0 || std::strcmp(upper, "NUL") == 0;
    }
    const bool portPrefix = std::strncmp(upper, "COM", 3) == 0 || std::strncmp(upper, "LPT", 3) == 0;
    return portPrefix && upper[3] >= '1' && upper[3] <= '9';
}

}  // namespace

bool IsSafeCabinetEntryName(const char* name) {
    if (name == nullptr || name[0] == '\0') return false;
    if (IsSeparator(name[0])) return false;
    if (std::strchr(name, ':') != nullptr) return false;
    const char* component = name;
    for (const char* p = name;; ++p) {
        if (*p == '\0' || IsSeparator(*p)) {
            // An empty component ("a\\b") is harmless; a trailing separator names no file.
            if (p != component) {
                if (IsDotsAndSpacesOnly(component, p) || IsDeviceName(component, p)) return false;
            } else if (*p == '\0') {
                return false;
            }
            if (*p == '\0') return true;
            component = p + 1;
        }
    }
}

bool JoinCabinetPath(char* out, size_t capacity, const char* folder, const char* name) {
    if (out == nullptr || capacity == 0) return false;
    out[0] = '\0';
    if (folder == nullptr || name == nullptr) return false;
    const size_t folderLength = std::strlen(folder);
    const size_t nameLength = std::strlen(name);
    if (folderLength >= capacity || nameLength >= capacity - folderLength) return false;
    std::memcpy(out, folder, folderLength);
    std::memcpy(out + folderLength, name, nameLength + 1);
    return true;
}

bool SplitContainerPath(const char* containerPath, char* cabinetName, char* cabinetPath, size_t capacity) {
    if (cabinetName == nullptr || cabinetPath == nullptr || capacity == 0) return false;
    cabinetName[0] = '\0';
    cabinetPath[0] = '\0';
    if (containerPath == nullptr) return false;
    const char* lastBackslash = std::strrchr(containerPath, '\\');
    const char* name = lastBackslash != nullptr ? lastBackslash + 1 : containerPath;
    const size_t pathLength = static_cast<size_t>(name - containerPath);
    const size_t nameLength = std::strlen(name);
    if (pathLength >= capacity || nameLength >= capacity) return false;
    std::memcpy(cabinetPath, containerPath, pathLength);
    cabinetPath[pathLength] = '\0';
    std::memcpy(cabinetName, name, nameLength + 1);
    return true;
}
