// Signed launchers run end to end as unsigned ones do: the signature is appended after the image,
// outside the resources, so the payload and its offsets are untouched. The launchers are signed by
// tests/packer/sign_launcher_test.sh (ctest: packer_sign_launcher) with a test certificate.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "tests/support/file_tree.h"
#include "tests/support/launcher_fixture.h"
#include "tests/support/registry_fixture.h"

namespace {

using namespace qarv::test;

std::wstring SignedLauncher(const char* architecture) {
    return FromUnixPath(std::string(QARV_SIGNED_LAUNCHERS) + "/signed-" + architecture + ".exe");
}

// HKLM\SOFTWARE as a 32-bit program sees it (WOW6432Node), where the i686 launcher reads its
// settings and the 32-bit demo installer records the product.
class Registry32 {
public:
    static void Reset() {
        qarv::UniqueRegKey software;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, software.put()) ==
            ERROR_SUCCESS) {
            RegDeleteTreeW(software.get(), L"Qarv");
            RegDeleteTreeW(software.get(), L"QarvSetup");
        }
        qarv::UniqueRegKey run;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, run.put()) == ERROR_SUCCESS) {
            RegDeleteValueW(run.get(), kRestartValueName);
        }
    }
    static void AllowTrace() {
        qarv::UniqueRegKey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QarvSetup", 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY,
                                  nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        const DWORD one = 1;
        RegSetValueExW(key.get(), L"fAllowDebugPrint", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    }
    static bool ProductInstalled() {
        qarv::UniqueRegKey key;
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Qarv", 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, key.put()) ==
                   ERROR_SUCCESS &&
               RegQueryValueExW(key.get(), L"szQarvDir", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }
};

class SignedLauncherRun : public LauncherFixture {
protected:
    void SetUp() override {
        LauncherFixture::SetUp();
        Registry32::Reset();
    }
    void TearDown() override {
        Registry32::Reset();
        LauncherFixture::TearDown();
    }

    // Runs `program` to its end with the trace on: the whole setup, up to the installer started.
    static void RunToTheEnd(const std::wstring& program, std::vector<std::wstring>& lines) {
        LauncherRun run(program);
        DWORD exitCode = 1;
        ASSERT_TRUE(run.WaitForExit(120000, &exitCode)) << "the signed launcher did not end";
        EXPECT_EQ(exitCode, 0u);
        lines = run.TraceLines();
        ASSERT_EQ(lines.size(), 7u) << "a complete run traces seven lines";
        EXPECT_EQ(lines.back(), L"VURoruz: Process created");
        EXPECT_NE(lines[3].find(L"VURoruz: Target file MD5 is "), std::wstring::npos);
    }
};

TEST_F(SignedLauncherRun, X86_64LauncherInstallsTheProduct) {
    const std::wstring program = SignedLauncher("x86_64");
    ASSERT_TRUE(PathExists(program)) << "no signed launcher: the packer_sign_launcher test makes it";
    SetHklmDword(L"SOFTWARE\\QarvSetup", L"fAllowDebugPrint", 1);
    std::vector<std::wstring> lines;
    RunToTheEnd(program, lines);
    EXPECT_TRUE(WaitUntil([] { return HklmValueExists(L"SOFTWARE\\Qarv", L"szQarvDir"); }, 30000))
        << "the demo installer did not install the product";
}

TEST_F(SignedLauncherRun, I686LauncherInstallsTheProductUnderWow64) {
    const std::wstring program = SignedLauncher("i686");
    if (!PathExists(program)) GTEST_SKIP() << "no signed i686 launcher: this build was configured without QARV_I686_LAUNCHER";
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    if (!PathExists(std::wstring(windows) + L"\\syswow64\\kernel32.dll")) {
        GTEST_SKIP() << "32-bit Windows programs cannot run here: this prefix has no 32-bit system DLLs (syswow64); "
                        "Debian's wine32:i386 provides them, on a kernel that runs 32-bit code. The signed i686 "
                        "launcher was NOT run";
    }
    Registry32::AllowTrace();
    std::vector<std::wstring> lines;
    RunToTheEnd(program, lines);
    EXPECT_TRUE(WaitUntil([] { return Registry32::ProductInstalled(); }, 30000))
        << "the 32-bit demo installer did not install the product";
}

}  // namespace
