// Lays a complete previous (2006) generation out on this machine and takes it away again.
#include "tests/support/previous_generation_layout.h"

#include <shlobj.h>

#include "testprograms/prevgen/shell_menu_mark.h"

namespace qarv::test {

namespace {

constexpr const wchar_t* kShellFoldersKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const wchar_t* kUserShellFoldersKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr const wchar_t* kRunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kGroup = L"\\Velmora Antivirus";

const wchar_t* const kFolderFiles[] = {
    L"\\QARV.TMP",     L"\\QARV.LOG",      L"\\QARVE.LOG",     L"\\Tx.Fon",
    L"\\Lib16.dll",    L"\\Lib32.dll",     L"\\QarvHook.dll",  L"\\Qarv.vrl",
    L"\\Qarv2006.lnk", L"\\UnInstall Qarv2006.lnk", L"\\Qarv2006.exe",
};

const wchar_t* const kKeys[] = {
    L"Software\\Qarv",
    L"System\\CurrentControlSet\\Services\\VxD\\Qarv",
    L"System\\CurrentControlSet\\Services\\QarvAuto\\Enum",
    L"System\\CurrentControlSet\\Services\\SysCore\\Enum",
    L"System\\CurrentControlSet\\Services\\QarvAuto",
    L"System\\CurrentControlSet\\Services\\SysCore",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Qarv",
};

bool WriteTextFile(const std::wstring& path, const char* text) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return WriteFile(file.get(), text, static_cast<DWORD>(lstrlenA(text)), &written, nullptr) != 0;
}

bool CreateFolderChain(const std::wstring& folder) {
    return SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr) == ERROR_SUCCESS || GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The current user's folder as the "Shell Folders" key names it; written there from the shell's
// answer when the key does not hold it yet (a fresh prefix fills that key lazily).
std::wstring ShellFolder(const wchar_t* valueName, int csidl) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kShellFoldersKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return {};
    }
    wchar_t value[MAX_PATH * 2] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    std::wstring folder;
    if (RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS) {
        folder = value;
    } else if (SUCCEEDED(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, value))) {
        folder = value;
        RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                       static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
    return folder;
}

bool SetMachineDword(const std::wstring& subKey, const wchar_t* valueName, DWORD value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const bool ok = RegSetValueExW(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
                    ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

std::wstring SystemProgram(const wchar_t* name) {
    wchar_t directory[MAX_PATH] = {};
    GetSystemDirectoryW(directory, MAX_PATH);
    return std::wstring(directory) + L"\\" + name;
}

bool RunAndWait(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs) {
    UniqueKernelHandle process = StartProgram(program, arguments);
    if (!process) return false;
    if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        return false;
    }
    DWORD exitCode = 1;
    GetExitCodeProcess(process.get(), &exitCode);
    return exitCode == 0;
}

std::wstring UserShellFolder(const wchar_t* valueName) {
    wchar_t value[MAX_PATH * 2] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, kUserShellFoldersKey, valueName, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                     nullptr, value, &size) != ERROR_SUCCESS) {
        return {};
    }
    return value;
}

std::wstring SystemDriveRoot() {
    wchar_t directory[MAX_PATH] = {};
    GetSystemDirectoryW(directory, MAX_PATH);
    return std::wstring(directory, 3);
}

std::wstring UpdaterPath() { return SystemDriveRoot() + L"Program Files\\QLuPro\\QluPro.exe"; }

bool SetShellFolderValue(const wchar_t* valueName, const std::wstring& folder, const wchar_t* keyName = kShellFoldersKey,
                         DWORD type = REG_SZ) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, keyName, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
    const bool ok = RegSetValueExW(key, valueName, 0, type, reinterpret_cast<const BYTE*>(folder.c_str()),
                                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

void EndProcess(UniqueKernelHandle& process) {
    if (!process) return;
    if (WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
    }
    process.reset();
}

}  // namespace

UniqueKernelHandle StartProgram(const std::wstring& program, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        return UniqueKernelHandle();
    }
    CloseHandle(info.hThread);
    return UniqueKernelHandle(info.hProcess);
}

HWND WaitForWindow(const wchar_t* windowClass, const wchar_t* title, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND window = FindWindowW(windowClass, title)) return window;
        if (GetTickCount() - start >= timeoutMs) return nullptr;
        Sleep(50);
    }
}

bool MachineKeyExists(const std::wstring& subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool MachineValueExists(const std::wstring& subKey, const std::wstring& valueName) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    const bool exists = RegQueryValueExW(key, valueName.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return exists;
}

bool ShellExtensionRegistered() { return MachineValueExists(kShellMenuMarkKey, kShellMenuMarkValue); }

bool SetMachineString(const std::wstring& subKey, const std::wstring& valueName, const wchar_t* text, DWORD type) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    LONG status;
    if (text == nullptr) {
        status = RegDeleteValueW(key, valueName.c_str());
    } else {
        status = RegSetValueExW(key, valueName.c_str(), 0, type, reinterpret_cast<const BYTE*>(text),
                                static_cast<DWORD>((lstrlenW(text) + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

std::vector<std::wstring> FilesToRemove(const PreviousGeneration& generation) {
    std::vector<std::wstring> files;
    for (const wchar_t* file : kFolderFiles) files.push_back(generation.folder + file);
    files.push_back(generation.desktopFolder + L"\\Qarv2006.exe");
    files.push_back(generation.startMenuFolder + L"\\Qarv2006.lnk");
    files.push_back(generation.programsFolder + kGroup + L"\\UnInstall Qarv2006.lnk");
    files.push_back(generation.programsFolder + kGroup + L"\\Qarv2006.lnk");
    files.push_back(generation.updaterPath);
    return files;
}

std::vector<std::wstring> KeysToRemove() { return std::vector<std::wstring>(std::begin(kKeys), std::end(kKeys)); }

PreviousGeneration DescribePreviousGeneration(const std::wstring& folder) {
    PreviousGeneration generation;
    generation.folder = folder;
    generation.desktopFolder = SystemDriveRoot() + L"Qarv test desktop";
    generation.startMenuFolder = ShellFolder(L"Start Menu", CSIDL_STARTMENU);
    generation.programsFolder = ShellFolder(L"Programs", CSIDL_PROGRAMS);
    generation.updaterPath = UpdaterPath();
    return generation;
}

std::wstring InstallPreviousGeneration(const PreviousGenerationOptions& options, PreviousGeneration& generation) {
    generation.folder = options.folder;
    generation.savedDesktopValue = ShellFolder(L"Desktop", CSIDL_DESKTOPDIRECTORY);
    generation.desktopFolder = DescribePreviousGeneration(options.folder).desktopFolder;
    generation.savedUserDesktopValue = UserShellFolder(L"Desktop");
    if (generation.savedDesktopValue.empty() || generation.savedUserDesktopValue.empty() ||
        !SetShellFolderValue(L"Desktop", generation.desktopFolder, kUserShellFoldersKey, REG_EXPAND_SZ) ||
        !SetShellFolderValue(L"Desktop", generation.desktopFolder)) {
        return L"cannot point the Desktop shell folder at " + generation.desktopFolder;
    }
    generation.startMenuFolder = ShellFolder(L"Start Menu", CSIDL_STARTMENU);
    generation.programsFolder = ShellFolder(L"Programs", CSIDL_PROGRAMS);
    generation.updaterPath = UpdaterPath();
    if (generation.desktopFolder.empty() || generation.startMenuFolder.empty() || generation.programsFolder.empty()) {
        return L"the current user's shell folders are unknown";
    }

    const std::wstring& folder = generation.folder;
    const std::wstring mainProgram = folder + L"\\Qarv2006.exe";
    const std::wstring shellExtension = folder + L"\\ShellMenu.dll";
    if (!CreateFolderChain(folder)) return L"cannot create " + folder;
    if (!CopyFileW((options.standInFolder + L"\\Qarv2006.exe").c_str(), mainProgram.c_str(), FALSE) ||
        !CopyFileW((options.standInFolder + L"\\ShellMenu.dll").c_str(), shellExtension.c_str(), FALSE)) {
        return L"cannot copy the stand-ins from " + options.standInFolder;
    }
    for (const wchar_t* file : kFolderFiles) {
        const std::wstring path = folder + file;
        if (path != mainProgram && !WriteTextFile(path, "previous generation\r\n")) return L"cannot write " + path;
    }

    // The desktop holds the program itself; the shortcut beside it is not the removal's to take.
    const std::wstring group = generation.programsFolder + kGroup;
    if (!CreateFolderChain(generation.desktopFolder) || !CreateFolderChain(generation.startMenuFolder) ||
        !CreateFolderChain(group)) {
        return L"cannot create the shell folders";
    }
    if (!CopyFileW(mainProgram.c_str(), (generation.desktopFolder + L"\\Qarv2006.exe").c_str(), FALSE) ||
        !WriteTextFile(generation.desktopFolder + L"\\Qarv2006.lnk", "shortcut") ||
        !WriteTextFile(generation.startMenuFolder + L"\\Qarv2006.lnk", "shortcut") ||
        !WriteTextFile(group + L"\\UnInstall Qarv2006.lnk", "shortcut") ||
        !WriteTextFile(group + L"\\Qarv2006.lnk", "shortcut")) {
        return L"cannot write the shortcuts";
    }

    const std::wstring updaterFolder = generation.updaterPath.substr(0, generation.updaterPath.find_last_of(L'\\'));
    if (!CreateFolderChain(updaterFolder) ||
        !CopyFileW((options.standInFolder + L"\\QluPro.exe").c_str(), generation.updaterPath.c_str(), FALSE)) {
        return L"cannot lay out the updater at " + generation.updaterPath;
    }

    const std::wstring uninstall = L"\"" + folder + L"\\UnInstall Qarv2006.lnk\"";
    const std::wstring runMain = L"\"" + mainProgram + L"\" /tray";
    if (!SetMachineString(kKeys[0], L"szQarv2006Dir", folder.c_str()) ||
        !SetMachineString(kKeys[0], L"Version", L"2006") ||
        !SetMachineString(kKeys[1], L"StaticVxD", L"QarvVxd.vxd") ||
        !SetMachineDword(kKeys[2], L"Count", 1) || !SetMachineDword(kKeys[3], L"Count", 1) ||
        !SetMachineString(kKeys[4], L"DisplayName", L"Qarv Auto-Protect") ||
        !SetMachineString(kKeys[5], L"DisplayName", L"Qarv System Core") ||
        !SetMachineString(kKeys[6], L"DisplayName", L"Qarv2006") ||
        !SetMachineString(kKeys[6], L"UninstallString", uninstall.c_str()) ||
        !SetMachineString(kRunKey, L"QarvFw", runMain.c_str()) ||
        !SetMachineString(kRunKey, L"QLuPro", generation.updaterPath.c_str())) {
        return L"cannot write the registry keys";
    }

    // Registered the way its installer did: by the system's regsvr32 of this architecture.
    if (!RunAndWait(SystemProgram(L"regsvr32.exe"), L"/s \"" + shellExtension + L"\"", 30000) ||
        !ShellExtensionRegistered()) {
        return L"regsvr32 did not register " + shellExtension;
    }

    if (options.startPrograms) {
        generation.mainProgram = StartProgram(mainProgram);
        generation.updater = StartProgram(generation.updaterPath, options.hungUpdater ? L"--hang" : L"");
        if (!generation.mainProgram || !generation.updater) return L"cannot start the stand-in programs";
        if (WaitForWindow(L"Qarv2006", nullptr, 15000) == nullptr ||
            WaitForWindow(L"QLiveUpdateClass", L"QLiveUpdate", 15000) == nullptr) {
            return L"the stand-in programs showed no window";
        }
    }
    return {};
}

void RemovePreviousGenerationLayout(PreviousGeneration& generation) {
    EndProcess(generation.mainProgram);
    EndProcess(generation.updater);
    if (!generation.folder.empty()) {
        for (const std::wstring& file : FilesToRemove(generation)) DeleteFileW(file.c_str());
        DeleteFileW((generation.folder + L"\\ShellMenu.dll").c_str());
        RemoveDirectoryW(generation.folder.c_str());
    }
    if (!generation.desktopFolder.empty()) {
        DeleteFileW((generation.desktopFolder + L"\\Qarv2006.lnk").c_str());
        RemoveDirectoryW(generation.desktopFolder.c_str());
    }
    if (!generation.savedUserDesktopValue.empty()) {
        SetShellFolderValue(L"Desktop", generation.savedUserDesktopValue, kUserShellFoldersKey, REG_EXPAND_SZ);
    }
    if (!generation.savedDesktopValue.empty()) SetShellFolderValue(L"Desktop", generation.savedDesktopValue);
    if (!generation.programsFolder.empty()) RemoveDirectoryW((generation.programsFolder + kGroup).c_str());
    if (!generation.updaterPath.empty()) {
        RemoveDirectoryW(generation.updaterPath.substr(0, generation.updaterPath.find_last_of(L'\\')).c_str());
    }
    for (const wchar_t* key : kKeys) RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
    SetMachineString(kRunKey, L"QarvFw", nullptr);
    SetMachineString(kRunKey, L"QLuPro", nullptr);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kShellMenuMarkKey);
}

}  // namespace qarv::test
