// Pointing the temporary folder (TMP and TEMP) of this process, and of the programs it starts,
// somewhere else for the length of a scope.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace qarv::test {

class TemporaryFolderOverride {
public:
    explicit TemporaryFolderOverride(const std::wstring& folder) {
        for (const wchar_t* name : {L"TMP", L"TEMP"}) {
            std::vector<wchar_t> old(32768, L'\0');
            const DWORD length = GetEnvironmentVariableW(name, old.data(), static_cast<DWORD>(old.size()));
            m_saved.emplace_back(name, length > 0 ? std::wstring(old.data()) : std::wstring());
            SetEnvironmentVariableW(name, folder.c_str());
        }
    }
    TemporaryFolderOverride(const TemporaryFolderOverride&) = delete;
    TemporaryFolderOverride& operator=(const TemporaryFolderOverride&) = delete;
    ~TemporaryFolderOverride() {
        for (const auto& [name, value] : m_saved) SetEnvironmentVariableW(name, value.empty() ? nullptr : value.c_str());
    }

private:
    std::vector<std::pair<const wchar_t*, std::wstring>> m_saved;
};

}  // namespace qarv::test
