// Starting the extracted installer: CreateProcessW first, the shell's open verb as the fallback.
#include "setup/installer_launch.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>

#include "common/platform_calls.h"
#include "common/unique_handle.h"
#include "diag/trace.h"

namespace qarv {

int LaunchInstaller(const wchar_t* programPath) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    qarv::UniqueProcessInformation process;
    wchar_t commandLine[kCommandLineCapacity] = {};

    // A quoted path that does not fit would be cut and start the wrong file, if any.
    if (programPath == nullptr || std::wcslen(programPath) + 2 >= kCommandLineCapacity) {
        WriteTrace(L"VURoruz: Creating process failed, error: %08X\n", static_cast<unsigned>(ERROR_FILENAME_EXCED_RANGE));
        return 0;
    }
    _snwprintf(commandLine, kCommandLineCapacity, L"\"%s\"", programPath);
    commandLine[kCommandLineCapacity - 1] = L'\0';

    WriteTrace(L"VURoruz: Creating process %s\n", commandLine);
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, process.put())) {
        WriteTrace(L"VURoruz: Creating process failed, error: %08X\n", static_cast<unsigned>(GetLastError()));
        return 0;
    }
    WriteTrace(L"VURoruz: Process created\n");
    return 1;
}

bool ShellOpenInstaller(const wchar_t* programPath) {
    WriteTrace(L"VURoruz: ShellExecuting %s\n", programPath);
    const auto shellExecute = qarv::ReplacedOrReal(
        qarv::InstalledPlatformCalls<InstallerLaunchPlatformCalls>().shellExecute, &ShellExecuteW);
    const HINSTANCE result = shellExecute(nullptr, L"open", programPath, nullptr, nullptr, SW_SHOWNORMAL);
    const UINT_PTR value = reinterpret_cast<UINT_PTR>(result);
    // https://learn.microsoft.com/windows/win32/api/shellapi/nf-shellapi-shellexecutew: success is
    // a value greater than 32.
    if (value > 32) {
        WriteTrace(L"VURoruz: ShellExecute OK!\n");
        return true;
    }
    WriteTrace(L"VURoruz: ShellExecute return %08X\n", static_cast<unsigned>(value));
    return false;
}

}  // namespace qarv
