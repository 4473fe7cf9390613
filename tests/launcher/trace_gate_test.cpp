// The trace gate of the real launcher: with fAllowDebugPrint off in any of its forms the run writes
// no line at all; with it on, the run's lines appear in order, each in its exact form.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

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

// The file's MD5 as 32 upper-case hexadecimal digits, or empty.
std::wstring Md5OfFile(const std::wstring& path) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return L"";
    HCRYPTHASH hash = 0;
    std::wstring text;
    if (CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        BYTE buffer[65536];
        DWORD read = 0;
        bool ok = file != INVALID_HANDLE_VALUE;
        while (ok && ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) ok = CryptHashData(hash, buffer, read, 0);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        BYTE digest[16];
        DWORD size = sizeof(digest);
        if (ok && CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0)) {
            for (BYTE b : digest) {
                wchar_t hex[3];
                swprintf(hex, 3, L"%02X", b);
                text += hex;
            }
        }
        CryptDestroyHash(hash);
    }
    CryptReleaseContext(provider, 0);
    return text;
}

// A complete run's lines, each exactly: the work folder and the program path agree from line to
// line, and the digest is the program's own.
void ExpectTheLinesOfACompleteRun(const std::vector<std::wstring>& lines) {
    ASSERT_EQ(lines.size(), 7u);
    const std::wregex dropping(LR"(VURoruz: Dropping file to (.+)\\qarv2009Setup\.dat \.\.\.)");
    std::wsmatch folder;
    ASSERT_TRUE(std::regex_match(lines[0], folder, dropping)) << std::string(lines[0].begin(), lines[0].end());
    EXPECT_EQ(lines[1], L"VURoruz: Extracting file ...");
    const std::wstring prefix = L"VURoruz: File successfully extracted to ";
    ASSERT_EQ(lines[2].rfind(prefix, 0), 0u);
    const std::wstring program = lines[2].substr(prefix.size());
    EXPECT_EQ(program.rfind(folder[1].str() + L"\\", 0), 0u) << "the program sits in the work folder";
    EXPECT_EQ(lines[3], L"VURoruz: Target file MD5 is " + Md5OfFile(program));
    EXPECT_EQ(lines[4], L"VURoruz: Executing " + program + L" ...");
    EXPECT_EQ(lines[5], L"VURoruz: Creating process \"" + program + L"\"");
    EXPECT_EQ(lines[6], L"VURoruz: Process created");
}

TEST_F(TraceGateTest, OnForAnyNonZeroDoubleWordWritesTheRunsLines) {
    for (DWORD value : {1u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(value);
        LauncherFixture::SetUp();
        SetHklmDword(L"SOFTWARE\\QarvSetup", L"fAllowDebugPrint", value);
        ExpectTheLinesOfACompleteRun(RunToTheEnd());
    }
}

}  // namespace
