// Running the real launcher under the debugger.
#include "tests/support/launcher_run.h"

#include <chrono>

#include "tools/tracecap/debug_capture.h"

namespace qarv::test {

LauncherRun::LauncherRun(std::wstring program, DWORD timeoutMs, LineHook whileWaiting)
    : m_program(std::move(program)), m_whileWaiting(std::move(whileWaiting)) {
    // The debug loop must run on the thread that created the process.
    m_thread = std::thread([this, timeoutMs] { Run(timeoutMs); });
}

LauncherRun::~LauncherRun() {
    Terminate();
    if (m_thread.joinable()) m_thread.join();
}

void LauncherRun::Run(DWORD timeoutMs) {
    qarv::tools::DebugCaptureCallbacks callbacks;
    callbacks.onStarted = [this](DWORD processId, HANDLE process) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_processId = processId;
        m_process = process;
        m_startedOrFailed = true;
        m_changed.notify_all();
    };
    callbacks.onOutput = [this](const std::wstring& text) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_output.push_back(text);
        }
        if (m_whileWaiting) m_whileWaiting(!text.empty() && text.back() == L'\n' ? text.substr(0, text.size() - 1) : text);
    };
    const qarv::tools::DebugCaptureResult result = qarv::tools::RunUnderDebugger(L"\"" + m_program + L"\"", callbacks, timeoutMs);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_startedOrFailed = true;
    m_exited = true;
    m_process = nullptr;
    m_exitCode = result.exitCode;
    m_changed.notify_all();
}

DWORD LauncherRun::ProcessId() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_startedOrFailed; });
    return m_processId;
}

bool LauncherRun::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_exited; })) return false;
    if (exitCode != nullptr) *exitCode = m_exitCode;
    return true;
}

void LauncherRun::Terminate() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_exited && m_process != nullptr) TerminateProcess(m_process, 0xDEAD);
}

std::vector<std::wstring> LauncherRun::TraceLines() {
    std::vector<std::wstring> lines;
    for (const std::wstring& text : RawOutput()) {
        std::wstring line = text;
        if (!line.empty() && line.back() == L'\n') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::wstring> LauncherRun::RawOutput() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_output;
}

}  // namespace qarv::test
