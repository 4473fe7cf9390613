// The trace gate of the real launcher: with fAllowDebugPrint off in any of its forms the run writes
// no line at all; with it on, the run's lines appear in order, each in its exact form.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/support/launcher_fixture.h"
#include "tests/support/registry_fixture.h"

namespace {

using namespace qarv::test;

class TraceGateTest : public LauncherFixture {
protected:
    // Runs the launcher to its end, answering the error box if one comes; returns its trace.
    std::vector<std::wstring> RunToTheEnd() {
        LauncherRun run;
        const DWORD processId = run.ProcessId();
        EXPECT_NE(processId, 0u);
        WaitUntil(
            [&] {
                const MessageBoxSeen box = WaitForMessageBox(processId, 100);
                if (box.window) DismissMessageBox(box.window);
                return run.WaitForExit(0);
            },
            90000);
        EXPECT_TRUE(run.WaitForExit(0)) << "the launcher did not end";
        return run.TraceLines();
    }
};

TEST_F(TraceGateTest, OffInEveryFormWritesNothing) {
    struct Case {
        const char* name;
        void (*arrange)();
    };
    const Case cases[] = {
        {"missing", [] {}},
        {"zero", [] { SetHklmDword(L"SOFTWARE\\QarvSetup", L"fAllowDebugPrint", 0); }},
        {"string", [] { SetHklmString(L"SOFTWARE\\QarvSetup", L"fAllowDebugPrint", L"1"); }},
        {"quad word",
         [] {
             const DWORD64 one = 1;
             SetHklmValue(L"SOFTWARE\\QarvSetup", L"fAllowDebugPrint", REG_QWORD, &one, sizeof(one));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LauncherFixture::SetUp();
        c.arrange();
        EXPECT_TRUE(RunToTheEnd().empty());
    }
}

// The lines of a run in the order a run meets them; each later line may only follow the ones
// before it, and a run that fails stops early.
void ExpectTheSequenceOfARun(const std::vector<std::wstring>& lines) {
    const std::wregex pattern[] = {
        std::wregex(LR"(VURoruz: Dropping file to .+\\qarv2009Setup\.dat \.\.\.)"),
        std::wregex(LR"(VURoruz: Extracting file \.\.\.)"),
        std::wregex(LR"(VURoruz: File successfully extracted to .+|VURoruz: File extraction failed)"),
        std::wregex(LR"(VURoruz: Target file MD5 is [0-9A-F]{32})"),
        std::wregex(LR"(VURoruz: Executing .+ \.\.\.)"),
        std::wregex(LR"(VURoruz: Creating process ".+")"),
        std::wregex(LR"(VURoruz: Process created)"),
    };
    ASSERT_FALSE(lines.empty()) << "the trace is on but nothing was written";
    size_t next = 0;
    for (const std::wstring& line : lines) {
        while (next < std::size(pattern) && !std::regex_match(line, pattern[next])) {
            // Only the digest line may be left out (a failed digest changes nothing else).
            ASSERT_EQ(next, 3u) << "out of order: " << std::string(line.begin(), line.end());
            ++next;
        }
        ASSERT_LT(next, std::size(pattern)) << "unexpected line: " << std::string(line.begin(), line.end());
        ++next;
    }
}

TEST_F(TraceGateTest, OnForAnyNonZeroDoubleWordWritesTheRunsLines) {
    for (DWORD value : {1u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(value);
        LauncherFixture::SetUp();
        SetHklmDword(L"SOFTWARE\\QarvSetup", L"fAllowDebugPrint", value);
        const std::vector<std::wstring> lines = RunToTheEnd();
        ExpectTheSequenceOfARun(lines);
        for (const std::wstring& line : lines) {
            EXPECT_EQ(line.find(L"TryTerminateProcessW"), std::wstring::npos) << "removal lines are never written";
        }
    }
}

}  // namespace
