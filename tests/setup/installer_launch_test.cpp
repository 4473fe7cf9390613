// Starting the extracted installer, with the trace lines each route writes. The trace goes to the
// debugger output, so the routes run in a child copy of this test program under the debugger.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "common/platform_calls.h"
#include "diag/trace.h"
#include "setup/installer_launch.h"
#include "tools/tracecap/debug_capture.h"

using namespace qarv;

namespace {

std::wstring SystemProgram() {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\hostname.exe";
}

std::wstring TempPath() {
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp, length);
}

// A copy of a real program at a path of exactly `length` characters, in nested folders.
std::wstring ProgramAtPathOfLength(size_t length) {
    std::wstring folder = TempPath() + L"qarv-long";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring file = L"\\setup.exe";
    while (folder.size() + file.size() < length) {
        const size_t room = length - folder.size() - file.size();
        const size_t part = room > 61 ? 60 : room - 1;
        if (part == 0) break;
        folder += L"\\" + std::wstring(part, L'd');
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    const std::wstring path = folder + file;
    CopyFileW(SystemProgram().c_str(), path.c_str(), FALSE);
    return path;
}

const wchar_t* const kMissingProgram = L"C:\\no-such-folder\\setup.exe";

// --- The child side: each runs one route with the trace on. Run only by the parent below.

TEST(LaunchInstallerChild, DISABLED_Success) {
    TraceEnabled = 1;
    EXPECT_EQ(LaunchInstaller(SystemProgram().c_str()), 1);
}

TEST(LaunchInstallerChild, DISABLED_BothRoutesFail) {
    TraceEnabled = 1;
    EXPECT_EQ(LaunchInstaller(kMissingProgram), 0);
    EXPECT_FALSE(ShellOpenInstaller(kMissingProgram));
}

TEST(LaunchInstallerChild, DISABLED_TooLongForTheCommandLine) {
    TraceEnabled = 1;
    const std::wstring path = ProgramAtPathOfLength(258);
    EXPECT_EQ(LaunchInstaller(path.c_str()), 0);
    EXPECT_TRUE(ShellOpenInstaller(path.c_str())) << "the shell starts the unquoted path";
}

// The shell's answers at the edge of success: 32 is SE_ERR_DLLNOTFOUND, 33 the first success.
UINT_PTR g_shellAnswer = 0;
HINSTANCE WINAPI AnswerAsTold(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) {
    return reinterpret_cast<HINSTANCE>(g_shellAnswer);
}

TEST(LaunchInstallerChild, DISABLED_ShellAnswersAroundThirtyTwo) {
    TraceEnabled = 1;
    qarv::PlatformCallsScope<InstallerLaunchPlatformCalls> shell({AnswerAsTold});
    g_shellAnswer = 32;
    EXPECT_FALSE(ShellOpenInstaller(kMissingProgram));
    g_shellAnswer = 33;
    EXPECT_TRUE(ShellOpenInstaller(kMissingProgram));
}

// --- The parent side.

std::vector<std::wstring> TraceOfChild(const char* testName) {
    wchar_t self[MAX_PATH * 2];
    GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    std::wstring commandLine = L"\"" + std::wstring(self) +
                               L"\" --gtest_also_run_disabled_tests --gtest_filter=LaunchInstallerChild.DISABLED_";
    commandLine += std::wstring(testName, testName + strlen(testName));
    std::vector<std::wstring> lines;
    qarv::tools::DebugCaptureCallbacks callbacks;
    callbacks.onOutput = [&](const std::wstring& text) { lines.push_back(text); };
    const qarv::tools::DebugCaptureResult result = qarv::tools::RunUnderDebugger(commandLine, callbacks, 60000);
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 0u) << "the child's own checks failed";
    return lines;
}

TEST(LaunchInstaller, SuccessQuotesThePathAndReportsTheProcess) {
    const std::wstring program = SystemProgram();
    EXPECT_EQ(TraceOfChild("Success"), (std::vector<std::wstring>{
                                           L"VURoruz: Creating process \"" + program + L"\"\n",
                                           L"VURoruz: Process created\n",
                                       }));
}

TEST(LaunchInstaller, FailureReportsTheErrorThenTheShellFallbackItsReturn) {
    const std::vector<std::wstring> lines = TraceOfChild("BothRoutesFail");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], L"VURoruz: Creating process \"" + std::wstring(kMissingProgram) + L"\"\n");
    // The system's code for a missing file or folder, as eight upper-case hexadecimal digits.
    EXPECT_TRUE(lines[1] == L"VURoruz: Creating process failed, error: 00000002\n" ||
                lines[1] == L"VURoruz: Creating process failed, error: 00000003\n");
    EXPECT_EQ(lines[2], L"VURoruz: ShellExecuting " + std::wstring(kMissingProgram) + L"\n");
    EXPECT_EQ(lines[3].rfind(L"VURoruz: ShellExecute return 000000", 0), 0u) << std::string(lines[3].begin(), lines[3].end());
}

TEST(LaunchInstaller, ShellAnswerOf32IsAFailureAndOnlyAboveIsAStart) {
    const std::vector<std::wstring> lines = TraceOfChild("ShellAnswersAroundThirtyTwo");
    const std::wstring shellExecuting = L"VURoruz: ShellExecuting " + std::wstring(kMissingProgram) + L"\n";
    EXPECT_EQ(lines, (std::vector<std::wstring>{shellExecuting, L"VURoruz: ShellExecute return 00000020\n",
                                                 shellExecuting, L"VURoruz: ShellExecute OK!\n"}));
}

TEST(LaunchInstaller, PathTooLongToQuoteFailsSoTheShellStartsItUnquoted) {
    const std::vector<std::wstring> lines = TraceOfChild("TooLongForTheCommandLine");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], L"VURoruz: Creating process failed, error: 000000CE\n");
    EXPECT_EQ(lines[1].rfind(L"VURoruz: ShellExecuting ", 0), 0u);
    EXPECT_EQ(lines[1].size(), std::wstring(L"VURoruz: ShellExecuting \n").size() + 258);
    EXPECT_EQ(lines[2], L"VURoruz: ShellExecute OK!\n");
}

}  // namespace
