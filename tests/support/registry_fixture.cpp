// Arranging and reading the test prefix's registry.
#include "tests/support/registry_fixture.h"

#include "common/unique_handle.h"

namespace qarv::test {

void SetHklmValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    UniqueRegKey handle;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, handle.put(), nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExW(handle.get(), name, 0, type, static_cast<const BYTE*>(data), size);
    }
}

void SetHklmDword(const wchar_t* key, const wchar_t* name, DWORD value) {
    SetHklmValue(key, name, REG_DWORD, &value, sizeof(value));
}

void SetHklmString(const wchar_t* key, const wchar_t* name, const std::wstring& value, DWORD type) {
    SetHklmValue(key, name, type, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void DeleteHklmValue(const wchar_t* key, const wchar_t* name) {
    UniqueRegKey handle;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_SET_VALUE, handle.put()) == ERROR_SUCCESS) {
        RegDeleteValueW(handle.get(), name);
    }
}

void DeleteHklmTree(const wchar_t* key) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
}

bool HklmKeyExists(const wchar_t* key) {
    UniqueRegKey handle;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, handle.put()) == ERROR_SUCCESS;
}

bool HklmValueExists(const wchar_t* key, const wchar_t* name) {
    UniqueRegKey handle;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, handle.put()) != ERROR_SUCCESS) return false;
    return RegQueryValueExW(handle.get(), name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool ReadHklmString(const wchar_t* key, const wchar_t* name, std::wstring& value) {
    UniqueRegKey handle;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, handle.put()) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(handle.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) {
        return false;
    }
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(handle.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    data.resize(wcsnlen(data.c_str(), data.size()));
    value = data;
    return true;
}

std::vector<std::wstring> PendingFileRenames() {
    std::vector<std::wstring> entries;
    UniqueRegKey handle;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE, handle.put()) != ERROR_SUCCESS) {
        return entries;
    }
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(handle.get(), L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        type != REG_MULTI_SZ) {
        return entries;
    }
    std::wstring data(size / sizeof(wchar_t) + 2, L'\0');
    RegQueryValueExW(handle.get(), L"PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                     &size);
    // Pairs of strings: source, then target (empty for a deletion).
    const size_t end = size / sizeof(wchar_t);
    size_t start = 0;
    while (start < end) {
        const size_t stop = data.find(L'\0', start);
        if (stop == std::wstring::npos || stop >= end) break;
        entries.push_back(data.substr(start, stop - start));
        start = stop + 1;
    }
    // The multi-string ends with an extra terminator, read above as one more empty string.
    if (entries.size() % 2 == 1 && entries.back().empty()) entries.pop_back();
    return entries;
}

std::vector<std::wstring> PendingDeletions() {
    std::vector<std::wstring> paths;
    const std::vector<std::wstring> entries = PendingFileRenames();
    for (size_t i = 0; i + 1 < entries.size(); i += 2) {
        if (!entries[i + 1].empty()) continue;  // a rename, not a deletion
        std::wstring path = entries[i];
        if (path.rfind(L"\\??\\", 0) == 0) path.erase(0, 4);
        paths.push_back(path);
    }
    return paths;
}

void ClearPendingFileRenames() { DeleteHklmValue(kSessionManagerKey, L"PendingFileRenameOperations"); }

}  // namespace qarv::test
