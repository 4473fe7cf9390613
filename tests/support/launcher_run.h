// Running the real launcher under the debugger, as support staff would with tracecap: its trace
// lines are collected while the test drives its windows.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_paths.h"

namespace qarv::test {

class LauncherRun {
public:
    // Called with each trace line (without its line feed) while the launcher waits in the call that
    // wrote it: whatever the hook does happens at exactly that point of the run.
    using LineHook = std::function<void(const std::wstring& line)>;

    // Starts `program` at once; the run is bounded by `timeoutMs`, past which it is terminated.
    explicit LauncherRun(std::wstring program = LauncherPath(), DWORD timeoutMs = 120000, LineHook whileWaiting = {});
    LauncherRun(const LauncherRun&) = delete;
    LauncherRun& operator=(const LauncherRun&) = delete;
    // Terminates the launcher if it is still running.
    ~LauncherRun();

    // The process id once started; 0 if it could not be started.
    DWORD ProcessId();
    // True when the launcher exited within `timeoutMs`; its exit code goes to `exitCode`.
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr);
    void Terminate();

    // Trace lines seen so far, each without its line feed.
    std::vector<std::wstring> TraceLines();
    std::vector<std::wstring> RawOutput();

private:
    void Run(DWORD timeoutMs);

    std::wstring m_program;
    LineHook m_whileWaiting;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_startedOrFailed = false;
    bool m_exited = false;
    DWORD m_processId = 0;
    HANDLE m_process = nullptr;
    DWORD m_exitCode = 0;
    std::vector<std::wstring> m_output;
    std::thread m_thread;
};

}  // namespace qarv::test
