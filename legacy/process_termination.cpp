// Ending the previous generation's running programs.
// GetModuleFileNameExW is taken from psapi.dll, loaded by its full path in the system directory:
// kernel32 exports it (as K32GetModuleFileNameExW) only from Windows 7 on, and an import of it
// would keep the launcher from starting on Vista at all.
#include "legacy/process_termination.h"

#include <shlwapi.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string>

#include "common/platform_calls.h"
#include "common/system_library.h"
#include "common/unique_handle.h"
#include "diag/trace.h"

namespace qarv {

namespace {

constexpr DWORD kAllProcessAccess = 0x1FFFFF;
constexpr DWORD kModuleNameCapacity = 260;
constexpr DWORD kLongPathCapacity = 1024;
constexpr int kWindowTitleCapacity = 260;
constexpr const wchar_t* kWindowClass = L"Qarv2006";
constexpr const wchar_t* kWindowTitleMark = L"Qarv2006";

using GetModuleFileNameExFn = DWORD(WINAPI*)(HANDLE process, HMODULE module, LPWSTR name, DWORD capacity);

const ProcessTerminationPlatformCalls& PlatformCalls() {
    return qarv::InstalledPlatformCalls<ProcessTerminationPlatformCalls>();
}

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// The long form of `process`'s main-module path, or empty when it cannot be read, does not fit,
// or names no existing file.
// A null `getModuleFileNameEx` (psapi.dll could not be loaded) reads no path.
std::wstring MainModuleLongPath(HANDLE process, GetModuleFileNameExFn getModuleFileNameEx) {
    WriteTrace(L"Calling GetModuleFileNameEx\n");
    wchar_t moduleName[kModuleNameCapacity] = {};
    if (getModuleFileNameEx == nullptr || getModuleFileNameEx(process, nullptr, moduleName, kModuleNameCapacity) == 0) {
        return {};
    }
    WriteTrace(L"Module file name: %s\n", moduleName);

    wchar_t longPath[kLongPathCapacity] = {};
    const DWORD length = GetLongPathNameW(moduleName, longPath, kLongPathCapacity);
    // A result of the capacity or more is the size needed, not a path: such a process cannot be
    // the target, whose long form the caller could not have held either.
    if (length == 0 || length >= kLongPathCapacity) return {};
    std::wstring path(longPath, length);
    if (!PathFileExistsW(path.c_str())) return {};
    WriteTrace(L"Main module path: %s\n", path.c_str());
    return path;
}

}  // namespace

bool PathsEqualFoldingAsciiOnly(const wchar_t* left, const wchar_t* right) {
    for (;; ++left, ++right) {
        if (FoldAscii(*left) != FoldAscii(*right)) return false;
        if (*left == L'\0') return true;
    }
}

int EnableDebugPrivilege() {
    qarv::UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return 0;
    TOKEN_PRIVILEGES privileges = {};
    if (LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &privileges.Privileges[0].Luid)) {
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        // Whether the account holds the privilege is not examined: without it the opens that need
        // it fail later and those processes are skipped.
        AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof(privileges), nullptr, nullptr);
    }
    return 1;
}

int TerminateProcessesByPath(const wchar_t* targetPath) {
    if (targetPath == nullptr) return 0;
    WriteTrace(L"TryTerminateProcessW: %s\n", targetPath);

    qarv::UniqueFile snapshot(
        qarv::ReplacedOrReal(PlatformCalls().createToolhelp32Snapshot, &CreateToolhelp32Snapshot)(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return 1;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    if (!Process32FirstW(snapshot.get(), &entry)) return 1;

    const qarv::UniqueModule processStatus = qarv::LoadSystemLibrary(L"psapi.dll");
    const auto getModuleFileNameEx = qarv::SystemEntry<GetModuleFileNameExFn>(processStatus.get(), "GetModuleFileNameExW");
    int result = 0;
    // No early exit after a match: every running copy of the program is ended.
    do {
        qarv::UniqueKernelHandle process(OpenProcess(kAllProcessAccess, FALSE, entry.th32ProcessID));
        if (!process) continue;
        const std::wstring path = MainModuleLongPath(process.get(), getModuleFileNameEx);
        if (path.empty()) continue;
        if (PathsEqualFoldingAsciiOnly(path.c_str(), targetPath) && TerminateProcess(process.get(), 0)) result = 1;
    } while (Process32NextW(snapshot.get(), &entry));
    return result;
}

HWND FindPreviousGenerationWindow() {
    HWND window = FindWindowW(kWindowClass, nullptr);
    if (window == nullptr) return nullptr;
    wchar_t title[kWindowTitleCapacity] = {};
    if (GetWindowTextW(window, title, kWindowTitleCapacity) == 0) return nullptr;
    return std::wcsstr(title, kWindowTitleMark) != nullptr ? window : nullptr;
}

int TerminateByWindow() {
    HWND window = FindPreviousGenerationWindow();
    if (window == nullptr) return 0;
    DWORD processId = 0;
    if (GetWindowThreadProcessId(window, &processId) == 0 || processId == 0) return 0;
    qarv::UniqueKernelHandle process(
        qarv::ReplacedOrReal(PlatformCalls().openProcess, &OpenProcess)(kAllProcessAccess, FALSE, processId));
    if (!process) return 0;
    // The window's process may have ended, and its id gone to another process, before the open.
    // The open handle pins the id, so a window that still belongs to it names the right process.
    DWORD ownerNow = 0;
    if (GetWindowThreadProcessId(window, &ownerNow) == 0 || ownerNow != processId) return 0;
    return TerminateProcess(process.get(), 0) ? 1 : 0;
}

}  // namespace qarv
