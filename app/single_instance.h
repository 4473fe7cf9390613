// One launcher at a time in a logon session: the logon start and a double-click must not both
// extract and start the installer.
#pragma once

#include "common/unique_handle.h"

namespace qarv {

// The session-local mutex name the launchers meet on.
constexpr const wchar_t* kSingleInstanceMutexName = L"Local\\QarvPro2009Setup";

// Claims `name` for this process for the guard's lifetime. Another process of the same session
// that holds it makes AnotherIsRunning true. When the mutex cannot be made at all for any other
// reason, the run goes on: a broken guard must not stop the setup on every logon.
class SingleInstanceGuard {
public:
    explicit SingleInstanceGuard(const wchar_t* name = kSingleInstanceMutexName);

    bool AnotherIsRunning() const { return m_anotherIsRunning; }

private:
    qarv::UniqueKernelHandle m_mutex;
    bool m_anotherIsRunning = false;
};

}  // namespace qarv
