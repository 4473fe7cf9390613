// Qarv2009Install.exe: the installer of the demo payload, started by the launcher from its work
// folder. Without any window or question it installs the stand-in product the way a real
// installation leaves it: an install folder holding Qarv2009.exe, and HKLM "SOFTWARE\Qarv" with
// szQarvDir (the folder) and fGiaoDien (0, Vietnamese). Exit code 0 when installed, else 1.
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "common/unique_handle.h"

namespace {

// The folder this program was started from: the launcher's work folder, where the cabinet's
// other files were extracted beside it.
std::wstring OwnFolder() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

// Program Files joined with the folder named in install.ini (a hidden file of the payload).
std::wstring InstallFolder(const std::wstring& sourceFolder) {
    wchar_t programFiles[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles))) return {};
    wchar_t relative[MAX_PATH] = {};
    const std::wstring ini = sourceFolder + L"\\install.ini";
    GetPrivateProfileStringW(L"Install", L"Folder", L"Qarv\\QarvPro 2009", relative, MAX_PATH, ini.c_str());
    // Only a plain relative folder: the product goes under Program Files and nowhere else.
    const std::wstring folder(relative);
    if (folder.empty() || folder.find(L':') != std::wstring::npos || folder.find(L"..") != std::wstring::npos ||
        folder[0] == L'\\' || folder[0] == L'/') {
        return std::wstring(programFiles) + L"\\Qarv\\QarvPro 2009";
    }
    return std::wstring(programFiles) + L"\\" + folder;
}

bool CopyIntoFolder(const std::wstring& from, const std::wstring& to, const wchar_t* name) {
    const std::wstring target = to + L"\\" + name;
    // A read-only copy from an earlier run would refuse to be replaced.
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    return CopyFileW((from + L"\\" + name).c_str(), target.c_str(), FALSE) != FALSE;
}

bool RecordInstallation(const std::wstring& folder) {
    qarv::UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Qarv", 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const DWORD language = 0;
    return RegSetValueExW(key.get(), L"szQarvDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                          static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
           RegSetValueExW(key.get(), L"fGiaoDien", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&language),
                          sizeof language) == ERROR_SUCCESS;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const std::wstring source = OwnFolder();
    if (source.empty()) return 1;
    const std::wstring target = InstallFolder(source);
    if (target.empty()) return 1;
    const int created = SHCreateDirectoryExW(nullptr, target.c_str(), nullptr);
    if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS) return 1;
    if (!CopyIntoFolder(source, target, L"Qarv2009.exe")) return 1;
    CopyIntoFolder(source, target, L"readme.txt");
    return RecordInstallation(target) ? 0 : 1;
}
