// Installed-product detection and restart registration. Everything here runs on the GUI thread
// before the setup worker exists.
#include "setup/installed_product.h"

#include <shlwapi.h>

#include <algorithm>
#include <cwchar>

#include "common/registry_value.h"
#include "common/unique_handle.h"
#include "diag/settings.h"
#include "setup/setup_host.h"

namespace qarv {

namespace {

constexpr size_t kPieceBound = 1024;     // a piece's terminator must lie within this many characters
constexpr size_t kLongestPiece = 1022;
constexpr DWORD kModulePathCapacity = 260;

// Length of `text` when it has a terminator within kPieceBound characters and 1 to 1022
// characters; 0 otherwise.
size_t MeasurePiece(const wchar_t* text) {
    const size_t length = wcsnlen(text, kPieceBound);
    return (length >= 1 && length <= kLongestPiece) ? length : 0;
}

}  // namespace

int IsProductInstalled(SetupHost* host) {
    // Any error raised inside (an allocation failure of the path string) means "not installed":
    // the setup then runs, which is the safe side of a wrong answer.
    try {
        wchar_t folder[kInstallFolderCapacity] = {};
        if (ReadInstallFolder(folder, kInstallFolderCapacity) == 0) return 0;
        if (!PathIsDirectoryW(folder)) return 0;

        const std::wstring program = BuildMainProgramPath(folder);
        // A folder named like the program counts as present.
        if (program.empty() || !PathFileExistsW(program.c_str())) return 0;

        DWORD language = 0;
        if (ReadDwordSetting(kProductKey, &language, kInterfaceLanguageValue) && host != nullptr) {
            host->SetInterfaceLanguage(static_cast<int>(language));
        }
        UnregisterRestart();
        return 1;
    } catch (...) {
        return 0;
    }
}

int ReadInstallFolder(wchar_t* buffer, DWORD capacity) {
    if (buffer == nullptr || capacity == 0) return 0;
    buffer[0] = L'\0';

    const qarv::UniqueRegKey key =
        qarv::OpenRegistryKeyToRead(HKEY_LOCAL_MACHINE, kProductKey, qarv::RegistryKeyMode::kCreateIfMissing);
    if (!key) return 0;

    // The registry does not promise a terminator: clear the buffer first, so that a shorter
    // unterminated value ends at the zeros, and refuse one that leaves no room for them.
    const DWORD capacityBytes = std::min<DWORD>(capacity, 0x7FFFFFFF / sizeof(wchar_t)) * sizeof(wchar_t);
    std::fill(buffer, buffer + capacityBytes / sizeof(wchar_t), L'\0');
    if (!qarv::ReadRegistryValue(key.get(), kInstallFolderValue, REG_SZ, qarv::RegistrySize::kUpToCapacity, buffer,
                                 capacityBytes)) {
        buffer[0] = L'\0';
        return 0;
    }

    const size_t characters = capacityBytes / sizeof(wchar_t);
    const wchar_t* end = std::find(buffer, buffer + characters, L'\0');
    if (end == buffer + characters) {
        // Fills the whole buffer without a terminator: a cut path would name another folder.
        buffer[0] = L'\0';
        return 0;
    }
    return static_cast<int>(end - buffer);
}

std::wstring BuildMainProgramPath(const wchar_t* folder) {
    if (folder == nullptr) return std::wstring();
    const size_t folderLength = MeasurePiece(folder);
    if (folderLength == 0) return std::wstring();
    const size_t nameLength = MeasurePiece(kMainProgramName);
    if (nameLength == 0) return std::wstring();

    std::wstring path(folder, folderLength);
    // Only the backslash counts as a separator: "C:\Qarv/" becomes "C:\Qarv/\Qarv2009.exe".
    if (path.back() != L'\\') path.push_back(L'\\');
    path.append(kMainProgramName, nameLength);
    return path;
}

void RegisterRestart() {
    wchar_t modulePath[kModulePathCapacity] = {};
    const DWORD length = GetModuleFileNameW(nullptr, modulePath, kModulePathCapacity);
    // A path that fills the buffer was cut short; a cut path would start some other program.
    if (length == 0 || length >= kModulePathCapacity) return;

    // Quoted: unquoted, "C:\Users\me\Downloads\QarvPro 2009 Setup.exe" would first be tried as
    // "C:\Users\me\Downloads\QarvPro.exe" at logon.
    wchar_t command[kModulePathCapacity + 2] = {};
    command[0] = L'"';
    std::copy(modulePath, modulePath + length, command + 1);
    command[length + 1] = L'"';
    const DWORD characters = length + 2;

    qarv::UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS) {
        return;
    }
    RegSetValueExW(key.get(), kRestartValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(command),
                   (characters + 1) * sizeof(wchar_t));
}

void UnregisterRestart() {
    qarv::UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS) {
        return;
    }
    RegDeleteValueW(key.get(), kRestartValue);
}

}  // namespace qarv
