// One launcher at a time in a logon session.
#include "app/single_instance.h"

#include <windows.h>

namespace qarv {

SingleInstanceGuard::SingleInstanceGuard(const wchar_t* name) {
    // The mutex is never waited on: its existence is the claim, and it goes with the process.
    m_mutex.reset(CreateMutexW(nullptr, FALSE, name));
    const DWORD error = GetLastError();
    if (m_mutex) {
        m_anotherIsRunning = error == ERROR_ALREADY_EXISTS;
    } else {
        // Denied: the name exists, made by a launcher running with other rights in this session.
        m_anotherIsRunning = error == ERROR_ACCESS_DENIED;
    }
}

}  // namespace qarv
