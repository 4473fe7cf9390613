// A window station that is not visible.
#include "tests/support/hidden_window_station.h"

#include <vector>

#include "common/unique_handle.h"

namespace qarv::test {

HiddenWindowStation::HiddenWindowStation() {
    const std::wstring name = L"QarvHidden" + std::to_wstring(GetCurrentProcessId());
    // Created without WSF_VISIBLE, which only the interactive station carries.
    m_station = CreateWindowStationW(name.c_str(), 0, WINSTA_ALL_ACCESS, nullptr);
    if (m_station == nullptr) return;
    // A desktop is made inside the process's current station: switch there for the call only.
    HWINSTA original = GetProcessWindowStation();
    if (SetProcessWindowStation(m_station)) {
        m_desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        SetProcessWindowStation(original);
    }
    m_desktopPath = name + L"\\Default";
}

HiddenWindowStation::~HiddenWindowStation() {
    if (m_desktop != nullptr) CloseDesktop(m_desktop);
    if (m_station != nullptr) CloseWindowStation(m_station);
}

DWORD HiddenWindowStation::Flags() const {
    USEROBJECTFLAGS flags{};
    if (!GetUserObjectInformationW(m_station, UOI_FLAGS, &flags, sizeof(flags), nullptr)) return 0xFFFFFFFF;
    return flags.dwFlags;
}

bool HiddenWindowStation::Run(const std::wstring& program, DWORD timeoutMs, DWORD& exitCode,
                              const std::wstring& arguments) const {
    std::wstring commandLine = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    std::vector<wchar_t> desktop(m_desktopPath.begin(), m_desktopPath.end());
    desktop.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.lpDesktop = desktop.data();
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return false;
    }
    UniqueKernelHandle processHandle(process.hProcess);
    UniqueKernelHandle threadHandle(process.hThread);
    if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 0xDEAD);
        WaitForSingleObject(process.hProcess, 10000);
        return false;
    }
    return GetExitCodeProcess(process.hProcess, &exitCode) != FALSE;
}

}  // namespace qarv::test
