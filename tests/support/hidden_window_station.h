// A window station that is not visible, with a desktop inside it, as a service or the system
// account in session 0 has: programs started there have nobody at the screen.
#pragma once

#include <windows.h>

#include <string>

namespace qarv::test {

class HiddenWindowStation {
public:
    // Creates the station under a name of this process's own, then its desktop "Default".
    HiddenWindowStation();
    HiddenWindowStation(const HiddenWindowStation&) = delete;
    HiddenWindowStation& operator=(const HiddenWindowStation&) = delete;
    ~HiddenWindowStation();

    bool Ready() const { return m_station != nullptr && m_desktop != nullptr; }
    // "<station>\Default", for STARTUPINFO's lpDesktop.
    const std::wstring& DesktopPath() const { return m_desktopPath; }
    // The station's UOI_FLAGS as the system reports them.
    DWORD Flags() const;

    // Starts `program` (with `arguments` after its quoted name) on the desktop and waits at most
    // `timeoutMs` for it to end. True with its exit code when it ended; false (and the process
    // terminated) when it did not.
    bool Run(const std::wstring& program, DWORD timeoutMs, DWORD& exitCode, const std::wstring& arguments = L"") const;

private:
    HWINSTA m_station = nullptr;
    HDESK m_desktop = nullptr;
    std::wstring m_desktopPath;
};

}  // namespace qarv::test
