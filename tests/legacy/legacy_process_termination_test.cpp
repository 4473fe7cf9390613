// Ending the previous generation's programs, against real processes of the stand-in Qarv2006.exe:
// which target paths match, every copy ended, deleted programs left alone, the window rules, and
// the trace lines when the gate is open.
#include <gtest/gtest.h>

#include <windows.h>

#include <deque>
#include <string>
#include <vector>

#include "common/platform_calls.h"
#include "diag/trace.h"
#include "legacy/process_termination.h"
#include "tests/support/previous_generation_layout.h"
#include "tests/support/test_paths.h"
#include "tests/support/window_probe.h"

using namespace qarv;

namespace {

using qarv::UniqueKernelHandle;
using qarv::test::StartProgram;

bool Ended(const UniqueKernelHandle& process, DWORD timeoutMs = 5000) {
    return WaitForSingleObject(process.get(), timeoutMs) == WAIT_OBJECT_0;
}

// Not ended by the calls before it: the process answers a message sent now. Its window may still
// be on its way up, so that is waited for, with a bound.
bool Running(const UniqueKernelHandle& process) {
    const DWORD processId = GetProcessId(process.get());
    qarv::test::WaitUntil(
        [&] {
            return !qarv::test::FindTopLevelWindows(processId, nullptr, nullptr).empty() ||
                   WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT;
        },
        10000);
    return qarv::test::AnswersMessages(process.get(), 10000);
}

void End(UniqueKernelHandle& process) {
    if (process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
    }
}

// Debug strings this process writes, caught before any debugger would see them.
std::vector<std::wstring>* g_debugStrings = nullptr;

LONG CALLBACK CatchDebugString(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (g_debugStrings == nullptr || record->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C) {
        g_debugStrings->push_back(reinterpret_cast<const wchar_t*>(record->ExceptionInformation[1]));
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_C) {
        const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        wchar_t wide[kTraceLineCapacity] = {};
        MultiByteToWideChar(CP_ACP, 0, text, -1, wide, kTraceLineCapacity - 1);
        g_debugStrings->push_back(wide);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

class TraceCapture {
public:
    TraceCapture() : m_handler(AddVectoredExceptionHandler(1, CatchDebugString)) {
        g_debugStrings = &m_lines;
        TraceEnabled = 1;
    }
    ~TraceCapture() {
        TraceEnabled = 0;
        RemoveVectoredExceptionHandler(m_handler);
        g_debugStrings = nullptr;
    }
    const std::vector<std::wstring>& Lines() const { return m_lines; }

private:
    std::vector<std::wstring> m_lines;
    void* m_handler;
};

class ProcessTerminationTest : public ::testing::Test {
protected:
    // Copies the stand-in program into `folder` (created) and returns its path.
    std::wstring PlaceProgram(const std::wstring& folder) {
        CreateDirectoryW(folder.c_str(), nullptr);
        m_folders.push_back(folder);
        const std::wstring program = folder + L"\\Qarv2006.exe";
        EXPECT_TRUE(CopyFileW((qarv::test::ProgramFolder() + L"\\Qarv2006.exe").c_str(), program.c_str(), FALSE));
        return program;
    }

    UniqueKernelHandle& Start(const std::wstring& program, const std::wstring& title = L"") {
        m_processes.push_back(StartProgram(program, title));
        EXPECT_TRUE(m_processes.back()) << "cannot start " << std::string(program.begin(), program.end());
        // Started once its window is up: then its main module is mapped and named.
        EXPECT_TRUE(WaitForInputIdle(m_processes.back().get(), 10000) == 0 ||
                    qarv::test::WaitForWindow(L"Qarv2006", nullptr, 10000) != nullptr);
        return m_processes.back();
    }

    void TearDown() override {
        for (UniqueKernelHandle& process : m_processes) End(process);
        m_processes.clear();
        for (const std::wstring& folder : m_folders) {
            DeleteFileW((folder + L"\\Qarv2006.exe").c_str());
            RemoveDirectoryW(folder.c_str());
        }
    }

    // The real calls unless a test replaces one; put back when the test ends, however it ends.
    qarv::PlatformCallsScope<ProcessTerminationPlatformCalls> m_platform;
    std::deque<UniqueKernelHandle> m_processes;
    std::vector<std::wstring> m_folders;
};

TEST(PathComparison, FoldsOnlyAsciiLetters) {
    struct Case {
        const wchar_t* left;
        const wchar_t* right;
        bool equal;
    };
    const Case cases[] = {
        {L"C:\\Qarv\\Qarv2006.exe", L"C:\\Qarv\\Qarv2006.exe", true},
        {L"C:\\Qarv\\Qarv2006.exe", L"c:\\QARV\\qarv2006.EXE", true},
        {L"C:\\Qarv Ä\\Qarv2006.exe", L"C:\\Qarv ä\\Qarv2006.exe", false},
        {L"C:\\Qarv É\\Qarv2006.exe", L"C:\\QARV É\\QARV2006.EXE", true},
        {L"C:\\@[\\x.exe", L"C:\\`{\\x.exe", false},  // neighbours of A-Z and a-z are not letters
        {L"C:\\Qarv\\Qarv2006.exe", L"C:\\Qarv\\Qarv2006.ex", false},
        {L"C:\\Qarv\\Qarv2006.ex", L"C:\\Qarv\\Qarv2006.exe", false},
        {L"", L"", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PathsEqualFoldingAsciiOnly(c.left, c.right), c.equal)
            << std::string(c.left, c.left + wcslen(c.left)).size() << " chars vs " << wcslen(c.right);
    }
}

TEST_F(ProcessTerminationTest, EveryRunningCopyEndsAndNothingElse) {
    const std::wstring program = PlaceProgram(L"C:\\Qarv termination test");
    const std::wstring other = PlaceProgram(L"C:\\Qarv termination other");
    UniqueKernelHandle& first = Start(program);
    UniqueKernelHandle& second = Start(program);
    UniqueKernelHandle& bystander = Start(other);

    EXPECT_EQ(TerminateProcessesByPath(program.c_str()), 1);
    EXPECT_TRUE(Ended(first));
    EXPECT_TRUE(Ended(second));
    DWORD exitCode = 1;
    GetExitCodeProcess(first.get(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(Running(bystander));

    // Nothing left to end: the whole list is walked and the result is 0.
    EXPECT_EQ(TerminateProcessesByPath(program.c_str()), 0);
}

TEST_F(ProcessTerminationTest, TargetMatchesOnlyTheLongFormFoldingAsciiCase) {
    const std::wstring program = PlaceProgram(L"C:\\Qarv termination test");
    UniqueKernelHandle& process = Start(program);

    wchar_t shortPath[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameW(program.c_str(), shortPath, MAX_PATH), 0u);
    ASSERT_NE(std::wstring(shortPath), program);
    EXPECT_EQ(TerminateProcessesByPath(shortPath), 0);
    EXPECT_TRUE(Running(process));

    EXPECT_EQ(TerminateProcessesByPath(L"c:\\QARV TERMINATION TEST\\qarv2006.EXE"), 1);
    EXPECT_TRUE(Ended(process));
}

TEST_F(ProcessTerminationTest, NonAsciiLetterInAnotherCaseDoesNotMatch) {
    const std::wstring program = PlaceProgram(L"C:\\Qarv Ärger test");
    UniqueKernelHandle& process = Start(program);
    EXPECT_EQ(TerminateProcessesByPath(L"C:\\Qarv ärger test\\Qarv2006.exe"), 0);
    EXPECT_TRUE(Running(process));
    EXPECT_EQ(TerminateProcessesByPath(program.c_str()), 1);
    EXPECT_TRUE(Ended(process));
}

TEST_F(ProcessTerminationTest, ProgramWhoseFileIsGoneIsLeftAlone) {
    const std::wstring program = PlaceProgram(L"C:\\Qarv termination test");
    UniqueKernelHandle& process = Start(program);
    // A running program's file cannot be deleted, but it can be moved away: its path then names
    // no file, as after a deletion.
    const std::wstring movedAway = program + L".moved";
    ASSERT_TRUE(MoveFileW(program.c_str(), movedAway.c_str())) << GetLastError();
    qarv::ScopeExit removeMoved([&] {
        End(process);
        DeleteFileW(movedAway.c_str());
    });

    TraceCapture trace;
    EXPECT_EQ(TerminateProcessesByPath(program.c_str()), 0);
    EXPECT_TRUE(Running(process));

    // Its lines stop after the module name: no long form, no comparison.
    const std::wstring moduleLine = L"Module file name: " + program + L"\n";
    bool sawModuleLine = false;
    for (const std::wstring& line : trace.Lines()) {
        if (line == moduleLine) sawModuleLine = true;
        EXPECT_NE(line, L"Main module path: " + program + L"\n");
    }
    EXPECT_TRUE(sawModuleLine);
}

TEST_F(ProcessTerminationTest, TraceLinesInOrderOnlyWhileTheGateIsOpen) {
    const std::wstring program = PlaceProgram(L"C:\\Qarv termination test");
    {
        UniqueKernelHandle& process = Start(program);
        TraceCapture trace;
        TraceEnabled = 0;
        EXPECT_EQ(TerminateProcessesByPath(program.c_str()), 1);
        EXPECT_TRUE(Ended(process));
        EXPECT_TRUE(trace.Lines().empty());
    }

    UniqueKernelHandle& process = Start(program);
    TraceCapture trace;
    EXPECT_EQ(TerminateProcessesByPath(program.c_str()), 1);
    EXPECT_TRUE(Ended(process));

    const std::vector<std::wstring>& lines = trace.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), L"TryTerminateProcessW: " + program + L"\n");
    // For the target: the call, its module name, then its long path, in this order.
    size_t target = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == L"Main module path: " + program + L"\n") target = i;
    }
    ASSERT_LT(target, lines.size());
    ASSERT_GE(target, 2u);
    EXPECT_EQ(lines[target - 1], L"Module file name: " + program + L"\n");
    EXPECT_EQ(lines[target - 2], L"Calling GetModuleFileNameEx\n");
    for (const std::wstring& line : lines) {
        const bool known = line.rfind(L"TryTerminateProcessW: ", 0) == 0 || line == L"Calling GetModuleFileNameEx\n" ||
                           line.rfind(L"Module file name: ", 0) == 0 || line.rfind(L"Main module path: ", 0) == 0;
        EXPECT_TRUE(known);
        EXPECT_EQ(line.back(), L'\n');
    }
}

TEST_F(ProcessTerminationTest, NoProcessListMeansOneAndNothingEnded) {
    const std::wstring program = PlaceProgram(L"C:\\Qarv termination test");
    UniqueKernelHandle& process = Start(program);
    m_platform.calls().createToolhelp32Snapshot = [](DWORD, DWORD) -> HANDLE {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    };
    EXPECT_EQ(TerminateProcessesByPath(program.c_str()), 1);
    EXPECT_TRUE(Running(process));
}

TEST_F(ProcessTerminationTest, WindowNeedsItsClassAndTheExactTitleMark) {
    const std::wstring program = PlaceProgram(L"C:\\Qarv termination test");
    EXPECT_EQ(FindPreviousGenerationWindow(), nullptr);
    EXPECT_EQ(TerminateByWindow(), 0);

    for (const wchar_t* title : {L"Another program", L"QARV2006 Antivirus", L"qarv2006"}) {
        UniqueKernelHandle& process = Start(program, title);
        ASSERT_NE(qarv::test::WaitForWindow(L"Qarv2006", title, 10000), nullptr);
        EXPECT_EQ(FindPreviousGenerationWindow(), nullptr);
        EXPECT_EQ(TerminateByWindow(), 0);
        EXPECT_TRUE(Running(process));
        End(process);
    }

    UniqueKernelHandle& process = Start(program, L"The Qarv2006 window");
    ASSERT_NE(qarv::test::WaitForWindow(L"Qarv2006", L"The Qarv2006 window", 10000), nullptr);
    EXPECT_NE(FindPreviousGenerationWindow(), nullptr);
    EXPECT_NE(TerminateByWindow(), 0);
    EXPECT_TRUE(Ended(process));
}

// Between finding the window and opening its process, the window's process ends and its id goes
// to another program. Windows hands out ids again at will; the open below stands in for that
// reuse: it ends the window's process for real, then opens the bystander in its place.
HANDLE g_reusedIdProcess = nullptr;
int g_opens = 0;
HANDLE WINAPI OpenAfterTheIdWentToAnother(DWORD access, BOOL inherit, DWORD processId) {
    ++g_opens;
    UniqueKernelHandle windowOwner(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
    if (!windowOwner) return nullptr;
    TerminateProcess(windowOwner.get(), 7);
    WaitForSingleObject(windowOwner.get(), 5000);
    qarv::test::WaitUntil([] { return FindPreviousGenerationWindow() == nullptr; }, 5000);
    return OpenProcess(access, inherit, GetProcessId(g_reusedIdProcess));
}

TEST_F(ProcessTerminationTest, WindowWhoseProcessEndedBeforeTheOpenEndsNoOtherProcess) {
    m_processes.push_back(StartProgram(qarv::test::ProgramFolder() + L"\\QluPro.exe"));
    UniqueKernelHandle& bystander = m_processes.back();
    ASSERT_TRUE(bystander);
    ASSERT_NE(qarv::test::WaitForWindow(L"QLiveUpdateClass", nullptr, 10000), nullptr);
    UniqueKernelHandle& windowOwner = Start(PlaceProgram(L"C:\\Qarv termination test"), L"The Qarv2006 window");
    ASSERT_NE(qarv::test::WaitForWindow(L"Qarv2006", L"The Qarv2006 window", 10000), nullptr);

    g_reusedIdProcess = bystander.get();
    g_opens = 0;
    m_platform.calls().openProcess = OpenAfterTheIdWentToAnother;
    EXPECT_EQ(TerminateByWindow(), 0);
    EXPECT_EQ(g_opens, 1);
    EXPECT_TRUE(Ended(windowOwner));
    EXPECT_TRUE(Running(bystander)) << "a process that never owned the window was ended";
    g_reusedIdProcess = nullptr;

    // With the real open, the same window rules end the window's process as before.
    m_platform.calls().openProcess = nullptr;
    UniqueKernelHandle& secondOwner = Start(PlaceProgram(L"C:\\Qarv termination test"), L"The Qarv2006 window");
    ASSERT_NE(qarv::test::WaitForWindow(L"Qarv2006", L"The Qarv2006 window", 10000), nullptr);
    EXPECT_NE(TerminateByWindow(), 0);
    EXPECT_TRUE(Ended(secondOwner));
    EXPECT_TRUE(Running(bystander));
}

bool DebugPrivilegeEnabled(HANDLE token, const LUID& debug) {
    PRIVILEGE_SET set = {};
    set.PrivilegeCount = 1;
    set.Privilege[0].Luid = debug;
    BOOL held = FALSE;
    return PrivilegeCheck(token, &set, &held) && held;
}

TEST(DebugPrivilege, IsEnabledInTheProcessToken) {
    HANDLE rawToken = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_PRIVILEGES, &rawToken));
    qarv::UniqueKernelHandle token(rawToken);
    LUID debug = {};
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &debug));
    // Switched off first, so that only the call under test can have switched it on.
    TOKEN_PRIVILEGES off = {};
    off.PrivilegeCount = 1;
    off.Privileges[0].Luid = debug;
    off.Privileges[0].Attributes = 0;
    ASSERT_TRUE(AdjustTokenPrivileges(token.get(), FALSE, &off, sizeof(off), nullptr, nullptr));
    ASSERT_FALSE(DebugPrivilegeEnabled(token.get(), debug));

    EXPECT_NE(EnableDebugPrivilege(), 0);
    EXPECT_TRUE(DebugPrivilegeEnabled(token.get(), debug));
}

}  // namespace
