// One sequence for every bounded registry read: open, ask type and size, read at most the buffer.
#include "common/registry_value.h"

#include <algorithm>

namespace qarv {
namespace {

LSTATUS QueryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* size) {
    return RegQueryValueExW(key, name, nullptr, type, data, size);
}
LSTATUS QueryValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) {
    return RegQueryValueExA(key, name, nullptr, type, data, size);
}

LSTATUS CreateKey(HKEY root, const wchar_t* subKey, HKEY* key) {
    return RegCreateKeyExW(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE, nullptr, key, nullptr);
}
LSTATUS CreateKey(HKEY root, const char* subKey, HKEY* key) {
    return RegCreateKeyExA(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE, nullptr, key, nullptr);
}

LSTATUS OpenKey(HKEY root, const wchar_t* subKey, HKEY* key) {
    return RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE, key);
}
LSTATUS OpenKey(HKEY root, const char* subKey, HKEY* key) {
    return RegOpenKeyExA(root, subKey, 0, KEY_QUERY_VALUE, key);
}

template <typename Char>
UniqueRegKey OpenToRead(HKEY root, const Char* subKey, RegistryKeyMode mode) {
    UniqueRegKey key;
    const LSTATUS status = mode == RegistryKeyMode::kCreateIfMissing ? CreateKey(root, subKey, key.put())
                                                                     : OpenKey(root, subKey, key.put());
    if (status != ERROR_SUCCESS) key.reset();
    return key;
}

bool Acceptable(DWORD wanted, RegistrySize rule, DWORD capacity, DWORD type, DWORD size) {
    if (wanted != kAnyRegistryType && type != wanted) return false;
    return rule != RegistrySize::kExactlyCapacity || size == capacity;
}

template <typename Char>
bool ReadValue(HKEY key, const Char* name, DWORD wanted, RegistrySize rule, void* buffer, DWORD capacity) {
    if (key == nullptr || buffer == nullptr) return false;
    // Type and size first: a string, a quad word or a big-endian double word must never land in a
    // buffer meant for something else.
    DWORD type = 0;
    DWORD size = 0;
    if (QueryValue(key, name, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    if (!Acceptable(wanted, rule, capacity, type, size)) return false;
    // The value may have changed since it was measured: the read is bounded by the buffer, and
    // its type and size are checked again.
    size = std::min(size, capacity);
    if (QueryValue(key, name, &type, static_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) return false;
    return Acceptable(wanted, rule, capacity, type, size);
}

}  // namespace

UniqueRegKey OpenRegistryKeyToRead(HKEY root, const wchar_t* subKey, RegistryKeyMode mode) {
    return OpenToRead(root, subKey, mode);
}
UniqueRegKey OpenRegistryKeyToRead(HKEY root, const char* subKey, RegistryKeyMode mode) {
    return OpenToRead(root, subKey, mode);
}

bool ReadRegistryValue(HKEY key, const wchar_t* name, DWORD type, RegistrySize size, void* buffer, DWORD capacity) {
    return ReadValue(key, name, type, size, buffer, capacity);
}
bool ReadRegistryValue(HKEY key, const char* name, DWORD type, RegistrySize size, void* buffer, DWORD capacity) {
    return ReadValue(key, name, type, size, buffer, capacity);
}

}  // namespace qarv
