// Removing the product's previous (2006) generation: its programs, files, shortcuts, registry keys,
// shell extension and updater. Every step is best effort; nothing is reported.
#include "legacy/previous_generation.h"

#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>

#include "common/platform_calls.h"
#include "common/registry_value.h"
#include "common/unique_handle.h"
#include "legacy/process_termination.h"

namespace qarv {

char PreviousGenerationFolder[kPreviousGenerationPathCapacity] = {};
ShellFolderBuffers ShellFolderPaths = {};

namespace {

constexpr DWORD kAfterTerminationWaitMs = 2000;
constexpr DWORD kAfterWindowTerminationWaitMs = 1000;
constexpr UINT kSystemDirectoryCapacity = 200;

constexpr const char* kQarvKey = "SOFTWARE\\Qarv";
constexpr const char* kFolderValue = "szQarv2006Dir";
constexpr const char* kShellFoldersKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\";
constexpr const char* kMainProgram = "\\Qarv2006.exe";

// The previous generation's files in its folder, in the order they are deleted; the main program
// goes last, after its processes had time to end.
constexpr const char* kFolderFiles[] = {
    "\\QARV.TMP",     "\\QARV.LOG",      "\\QARVE.LOG",     "\\Tx.Fon",
    "\\Lib16.dll",    "\\Lib32.dll",     "\\QarvHook.dll",  "\\Qarv.vrl",
    "\\Qarv2006.lnk", "\\UnInstall Qarv2006.lnk", "\\Qarv2006.exe",
};

// The key that holds the record of the folder ("szQarv2006Dir"). It goes last of all: while it
// stays, the next start finds the folder again and finishes a removal that was cut short.
constexpr const char* kRecordKey = "Software\\Qarv";

// Deletion is not recursive, so each "Enum" subkey goes before its service key; a key that still
// has subkeys of its own stays.
constexpr const char* kRegistryKeys[] = {
    "System\\CurrentControlSet\\Services\\VxD\\Qarv",
    "System\\CurrentControlSet\\Services\\QarvAuto\\Enum",
    "System\\CurrentControlSet\\Services\\SysCore\\Enum",
    "System\\CurrentControlSet\\Services\\QarvAuto",
    "System\\CurrentControlSet\\Services\\SysCore",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Qarv",
};

const PreviousGenerationPlatformCalls& PlatformCalls() {
    return qarv::InstalledPlatformCalls<PreviousGenerationPlatformCalls>();
}

void Wait(DWORD milliseconds) { qarv::ReplacedOrReal(PlatformCalls().sleep, &Sleep)(milliseconds); }

// The UTF-16 form of an ANSI path, through the system code page. False when it cannot be converted.
bool ToWide(const char* text, wchar_t* wide, int capacity) {
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, wide, capacity) != 0;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool TerminateByAnsiPath(const char* path) {
    wchar_t widePath[kPreviousGenerationPathCapacity] = {};
    if (!ToWide(path, widePath, static_cast<int>(std::size(widePath)))) return false;
    // A folder recorded with forward slashes names the same program as the system reports it.
    for (wchar_t& c : widePath) {
        if (c == L'/') c = L'\\';
    }
    return TerminateProcessesByPath(widePath) != 0;
}

// True when `ansi`, a value read through an ANSI registry call, names exactly what the registry
// holds. The system converts a value outside the code page with "?" or a best-fit look-alike
// ("bād" becomes "bad"): that text names another folder, perhaps one another user owns, and the
// removal deletes files and ends programs there.
bool AnsiValueIsExact(HKEY key, const wchar_t* valueName, const char* ansi) {
    // The last character stays zero, a terminator for a value stored without one.
    wchar_t stored[kPreviousGenerationPathCapacity + 1] = {};
    if (!qarv::ReadRegistryValue(key, valueName, qarv::kAnyRegistryType, qarv::RegistrySize::kUpToCapacity, stored,
                                 sizeof(stored) - sizeof(wchar_t))) {
        return false;
    }
    wchar_t roundTrip[kPreviousGenerationPathCapacity + 1] = {};
    if (!ToWide(ansi, roundTrip, static_cast<int>(std::size(roundTrip)))) return false;
    return std::wcscmp(stored, roundTrip) == 0;
}

void DeleteComposed(const char* folder, const char* suffix) {
    char name[kPreviousGenerationPathCapacity];
    if (ComposeName(name, sizeof(name), folder, suffix)) DeleteFileA(name);
}

// Copies one "Shell Folders" value into `target` when it can be read in full, exactly and as a
// fully qualified folder; otherwise it counts as unreadable, since a cut, converted or relative
// folder would name some other file.
void ReadShellFolder(HKEY key, const char* valueName, const wchar_t* wideValueName, char* target) {
    char value[kPreviousGenerationPathCapacity] = {};
    if (!qarv::ReadRegistryValue(key, valueName, qarv::kAnyRegistryType, qarv::RegistrySize::kUpToCapacity, value,
                                 sizeof(value))) {
        return;
    }
    if (value[sizeof(value) - 1] != '\0') return;
    if (!IsFullyQualifiedFolder(value) || !AnsiValueIsExact(key, wideValueName, value)) return;
    std::strncpy(target, value, kPreviousGenerationPathCapacity - 1);
    target[kPreviousGenerationPathCapacity - 1] = '\0';
}

// The shell extension is unregistered silently by the system's own regsvr32, named by its full
// path: by bare name the shell would look in the current folder first, where a planted
// regsvr32.exe would run with the setup's rights.
void UnregisterShellExtension() {
    // A quote in the folder would end the quoted argument early and pass the rest as options.
    if (std::strchr(PreviousGenerationFolder, '"') != nullptr) return;
    char parameters[kPreviousGenerationPathCapacity];
    const int length = std::snprintf(parameters, sizeof(parameters), "-s -u \"%s\\ShellMenu.dll\"", PreviousGenerationFolder);
    if (length < 0 || static_cast<size_t>(length) >= sizeof(parameters)) return;

    char program[MAX_PATH];
    const UINT directoryLength = GetSystemDirectoryA(program, MAX_PATH);
    if (directoryLength == 0 || directoryLength >= MAX_PATH) return;
    // The system's own regsvr32 or none: a converted directory could name a look-alike folder.
    wchar_t systemDirectory[MAX_PATH] = {};
    wchar_t roundTrip[MAX_PATH] = {};
    if (GetSystemDirectoryW(systemDirectory, MAX_PATH) == 0 || !ToWide(program, roundTrip, MAX_PATH) ||
        std::wcscmp(systemDirectory, roundTrip) != 0) {
        return;
    }
    if (!AppendName(program, sizeof(program), "\\regsvr32.exe")) return;
    qarv::ReplacedOrReal(PlatformCalls().shellExecuteA, &ShellExecuteA)(nullptr, "open", program, parameters, nullptr,
                                                                    SW_SHOW);
}

}  // namespace

bool ComposeName(char* buffer, size_t capacity, const char* folder, const char* suffix) {
    if (capacity == 0) return false;
    buffer[0] = '\0';
    const size_t folderLength = std::strlen(folder);
    const size_t suffixLength = std::strlen(suffix);
    // An empty folder would leave the bare suffix: a name under the root of the current drive.
    if (folderLength == 0 || folderLength >= capacity || suffixLength >= capacity - folderLength) return false;
    std::memcpy(buffer, folder, folderLength);
    std::memcpy(buffer + folderLength, suffix, suffixLength + 1);
    return true;
}

bool IsFullyQualifiedFolder(const char* folder) {
    // Windows takes '/' for '\\' in a path: "C:/Program Files/..." is as full as its backslash form.
    const bool driveRoot = ((folder[0] >= 'A' && folder[0] <= 'Z') || (folder[0] >= 'a' && folder[0] <= 'z')) &&
                           folder[1] == ':' && IsSeparator(folder[2]);
    const bool share = IsSeparator(folder[0]) && IsSeparator(folder[1]);
    return driveRoot || share;
}

bool AppendName(char* buffer, size_t capacity, const char* suffix) {
    const size_t length = strnlen(buffer, capacity);
    if (length == 0 || length >= capacity) return false;
    const size_t suffixLength = std::strlen(suffix);
    if (suffixLength >= capacity - length) return false;
    std::memcpy(buffer + length, suffix, suffixLength + 1);
    return true;
}

int ReadPreviousGenerationFolder(DWORD capacity) {
    if (capacity == 0 || capacity > sizeof(PreviousGenerationFolder)) capacity = sizeof(PreviousGenerationFolder);
    std::memset(PreviousGenerationFolder, 0, sizeof(PreviousGenerationFolder));

    const qarv::UniqueRegKey key =
        qarv::OpenRegistryKeyToRead(HKEY_LOCAL_MACHINE, kQarvKey, qarv::RegistryKeyMode::kCreateIfMissing);
    if (!key) return 0;
    if (!qarv::ReadRegistryValue(key.get(), kFolderValue, REG_SZ, qarv::RegistrySize::kUpToCapacity,
                                 PreviousGenerationFolder, capacity)) {
        std::memset(PreviousGenerationFolder, 0, sizeof(PreviousGenerationFolder));
        return 0;
    }
    // A value stored without its terminator that fills the whole capacity does not fit with one:
    // a cut folder would name some other folder, and a converted one a look-alike, so neither counts
    // as recorded.
    if (PreviousGenerationFolder[capacity - 1] != '\0' || !AnsiValueIsExact(key.get(), L"szQarv2006Dir", PreviousGenerationFolder)) {
        std::memset(PreviousGenerationFolder, 0, sizeof(PreviousGenerationFolder));
        return 0;
    }
    return lstrlenA(PreviousGenerationFolder);
}

int ReadShellFolderPaths() {
    const qarv::UniqueRegKey key =
        qarv::OpenRegistryKeyToRead(HKEY_CURRENT_USER, kShellFoldersKey, qarv::RegistryKeyMode::kOpenExisting);
    if (!key) return 0;
    ReadShellFolder(key.get(), "Start Menu", L"Start Menu", ShellFolderPaths.StartMenuPath);
    ReadShellFolder(key.get(), "Desktop", L"Desktop", ShellFolderPaths.DesktopPath);
    ReadShellFolder(key.get(), "Programs", L"Programs", ShellFolderPaths.ProgramsPath);
    return 1;
}

int RemoveUpdater() {
    // The updater sits under the literal "Program Files" on the system drive, whatever the
    // platform's program-files folder is called. Without a system directory there is no path.
    char systemDirectory[kSystemDirectoryCapacity] = {};
    const UINT directoryLength = GetSystemDirectoryA(systemDirectory, kSystemDirectoryCapacity);
    char updaterPath[MAX_PATH] = {};
    const bool haveUpdaterPath = directoryLength >= 3 && directoryLength < kSystemDirectoryCapacity &&
                                 systemDirectory[1] == ':' && systemDirectory[2] == '\\';
    if (haveUpdaterPath) {
        systemDirectory[3] = '\0';
        ComposeName(updaterPath, sizeof(updaterPath), systemDirectory, "Program Files\\QLuPro\\QluPro.exe");
    }

    if (HWND window = FindWindowA("QLiveUpdateClass", "QLiveUpdate")) {
        // Bounded: a hung updater must not hold the setup worker for good.
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(window, WM_DESTROY, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, kUpdaterMessageTimeoutMs, &ignored);
    }
    Wait(kAfterTerminationWaitMs);
    if (updaterPath[0] != '\0') TerminateByAnsiPath(updaterPath);
    Wait(kAfterTerminationWaitMs);

    qarv::UniqueRegKey runKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, KEY_SET_VALUE,
                      runKey.put()) == ERROR_SUCCESS) {
        RegDeleteValueA(runKey.get(), "QLuPro");
    }
    return updaterPath[0] != '\0' ? DeleteFileA(updaterPath) : 0;
}

void RemovePreviousGeneration() {
    EnableDebugPrivilege();
    if (ReadPreviousGenerationFolder(sizeof(PreviousGenerationFolder)) == 0) return;
    // A relative folder would aim every deletion at wherever the launcher was started from: such
    // a record names no installation.
    if (!IsFullyQualifiedFolder(PreviousGenerationFolder)) return;

    char name[kPreviousGenerationPathCapacity];
    if (ComposeName(name, sizeof(name), PreviousGenerationFolder, kMainProgram)) TerminateByAnsiPath(name);
    Wait(kAfterTerminationWaitMs);
    if (TerminateByWindow()) Wait(kAfterWindowTerminationWaitMs);

    for (const char* file : kFolderFiles) DeleteComposed(PreviousGenerationFolder, file);

    ReadShellFolderPaths();
    // The desktop entry is the program's name, not a shortcut: a "Qarv2006.lnk" there stays.
    const bool haveDesktopEntry = AppendName(ShellFolderPaths.DesktopPath, sizeof(ShellFolderPaths.DesktopPath), kMainProgram);
    const bool haveStartMenuEntry =
        AppendName(ShellFolderPaths.StartMenuPath, sizeof(ShellFolderPaths.StartMenuPath), "\\Qarv2006.lnk");
    if (haveDesktopEntry) DeleteFileA(ShellFolderPaths.DesktopPath);
    if (haveStartMenuEntry) DeleteFileA(ShellFolderPaths.StartMenuPath);

    DeleteComposed(ShellFolderPaths.ProgramsPath, "\\Velmora Antivirus\\UnInstall Qarv2006.lnk");
    DeleteComposed(ShellFolderPaths.ProgramsPath, "\\Velmora Antivirus\\Qarv2006.lnk");
    // Succeeds only when the group holds nothing else.
    if (ComposeName(name, sizeof(name), ShellFolderPaths.ProgramsPath, "\\Velmora Antivirus")) RemoveDirectoryA(name);

    for (const char* subKey : kRegistryKeys) RegDeleteKeyA(HKEY_LOCAL_MACHINE, subKey);

    qarv::UniqueRegKey runKey;
    char emptyClass[] = "";
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\", 0, emptyClass, 0,
                        KEY_SET_VALUE, nullptr, runKey.put(), &disposition) == ERROR_SUCCESS) {
        RegDeleteValueA(runKey.get(), "QarvFw");
    }
    runKey.reset();

    UnregisterShellExtension();
    RemoveUpdater();
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRecordKey);
}

}  // namespace qarv
