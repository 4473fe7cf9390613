// Signed launchers run end to end as unsigned ones do: the signature is appended after the image,
// outside the resources, so the payload and its offsets are untouched. The launchers are signed by
// tests/packer/sign_launcher_test.sh (ctest: packer_sign_launcher) with a test certificate.
// The Windows Installer packages around them (tests/packer/msi_test.sh, ctest: packer_msi_build)
// install, run and remove the launcher under Wine's msiexec, started where nobody is at the screen
// as Group Policy starts it at boot; their exit codes are read here, inside Windows, since a Unix
// exit status keeps only 8 bits of them.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "tests/support/file_tree.h"
#include "tests/support/hidden_window_station.h"
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
    // The restart value as the 32-bit launcher reads it, or false when there is none.
    static bool RestartValue(std::wstring& value) {
        qarv::UniqueRegKey run;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, run.put()) != ERROR_SUCCESS) {
            return false;
        }
        wchar_t text[1024] = {};
        DWORD size = sizeof text - sizeof(wchar_t);
        if (RegQueryValueExW(run.get(), kRestartValueName, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS) {
            return false;
        }
        value = text;
        return true;
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

// The packages, as tests/packer/msi_test.sh leaves them.
std::wstring Package(const char* name) {
    return FromUnixPath(std::string(QARV_MSI_PACKAGES) + "/" + name + ".msi");
}

class MsiPackage : public SignedLauncherRun {
protected:
    void SetUp() override {
        SignedLauncherRun::SetUp();
        ClearPendingFileRenames();
        wchar_t folder[MAX_PATH] = {};
        // A 32-bit package installs into the 32-bit Program Files, on 64-bit Windows "(x86)".
        ASSERT_NE(GetEnvironmentVariableW(L"ProgramFiles(x86)", folder, MAX_PATH), 0u);
        m_folder = std::wstring(folder) + L"\\QarvPro 2009 Setup";
        m_installed = m_folder + L"\\QarvPro 2009 Setup.exe";
        GetTempPathW(MAX_PATH, m_temp);
    }
    void TearDown() override {
        // Whatever a failed test left installed goes, so that the next one starts clean.
        if (PathExists(m_installed)) Msiexec(L"/x \"" + m_package + L"\" /qn", L"cleanup");
        ClearPendingFileRenames();
        SignedLauncherRun::TearDown();
    }

    // msiexec with `arguments`, on a desktop of a window station nobody sees (the launcher shows
    // no box there), its verbose log to TEMP's qarv-msi-NAME.log (m_log); its exit code, or 0xDEAD
    // when it did not end.
    DWORD Msiexec(const std::wstring& arguments, const wchar_t* name) {
        m_log = std::wstring(m_temp) + L"qarv-msi-" + name + L".log";
        DeleteFileW(m_log.c_str());
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, MAX_PATH);
        HiddenWindowStation station;
        EXPECT_TRUE(station.Ready());
        DWORD exitCode = 0xDEAD;
        if (!station.Run(std::wstring(system) + L"\\msiexec.exe", 240000, exitCode,
                         arguments + L" /l*v \"" + m_log + L"\"")) {
            ADD_FAILURE() << "msiexec " << arguments << " did not end within 240 s";
        }
        return exitCode;
    }
    std::string Log() const { return ReadAll(m_log); }

    // Installs `package`: msiexec exits 0, the launcher is in place and has run (the installer's
    // record, the run's reboot deletions).
    void ExpectInstallRunsTheLauncher(const char* package, bool (*productInstalled)()) {
        m_package = Package(package);
        ASSERT_TRUE(PathExists(m_package)) << "no package: the packer_msi_build test makes it";
        EXPECT_EQ(Msiexec(L"/i \"" + m_package + L"\" /qn", L"install"), 0u) << Log();
        EXPECT_TRUE(PathExists(m_installed)) << "the launcher is not installed";
        EXPECT_TRUE(WaitUntil(productInstalled, 30000)) << "the launcher did not run: no product record";
        const std::vector<std::wstring> deletions = PendingDeletions();
        // Every file the run extracted, its container and, last, its folder.
        ASSERT_GE(deletions.size(), 3u) << "a complete run registers its files, its container and its folder";
        for (const std::wstring& path : deletions) EXPECT_EQ(path.rfind(deletions.back(), 0), 0u) << path;
        EXPECT_NE(Log().find("RunLauncher"), std::string::npos) << "the log does not name the custom action";
    }

    // Removes the package: msiexec exits 0; the launcher and its folder are gone, the product stays.
    void ExpectRemovalLeavesTheProduct(bool (*productInstalled)()) {
        EXPECT_EQ(Msiexec(L"/x \"" + m_package + L"\" /qn", L"remove"), 0u) << Log();
        EXPECT_FALSE(PathExists(m_installed));
        EXPECT_FALSE(PathExists(m_folder));
        EXPECT_TRUE(productInstalled()) << "removing the package removed the product";
    }

    wchar_t m_temp[MAX_PATH] = {};
    std::wstring m_package, m_folder, m_installed, m_log;
};

bool ProductInstalled64() { return HklmValueExists(L"SOFTWARE\\Qarv", L"szQarvDir"); }

std::wstring RestartValue64() {
    std::wstring value;
    ReadHklmString(kRunKey, kRestartValueName, value);
    // Stored quoted: "C:\...\QarvPro 2009 Setup.exe".
    if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') value = value.substr(1, value.size() - 2);
    return value;
}

TEST_F(MsiPackage, InstallsRunsAndRemovesTheLauncher) {
    ExpectInstallRunsTheLauncher("x86_64", ProductInstalled64);
    EXPECT_EQ(RestartValue64(), m_installed) << "the restart value does not name the installed launcher";
    ExpectRemovalLeavesTheProduct(ProductInstalled64);
}

TEST_F(MsiPackage, AFailingLauncherFailsTheInstallAndRollsItBack) {
    m_package = Package("failing");
    ASSERT_TRUE(PathExists(m_package)) << "no package: the packer_msi_build test makes it";
    const DWORD exitCode = Msiexec(L"/i \"" + m_package + L"\" /qn", L"failing");
    // 1603 on Windows; Wine's msiexec reports a failed installation as 1627.
    EXPECT_TRUE(exitCode == 1603 || exitCode == 1627) << "msiexec exit code " << exitCode << "\n" << Log();
    EXPECT_FALSE(PathExists(m_installed)) << "the failed install was not rolled back";
    EXPECT_FALSE(PathExists(m_folder));
    EXPECT_FALSE(ProductInstalled64());
    EXPECT_FALSE(PendingDeletions().empty()) << "the launcher did not run: a failed run registers what it wrote";
}

// The package as it ships, around the 32-bit launcher, which runs under WoW64.
TEST_F(MsiPackage, I686LauncherInstallsUnderWow64) {
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    if (!PathExists(std::wstring(windows) + L"\\syswow64\\kernel32.dll")) {
        GTEST_SKIP() << "32-bit Windows programs cannot run here (no syswow64): the i686 package was NOT installed";
    }
    if (!PathExists(Package("i686"))) GTEST_SKIP() << "no i686 package: this build has no QARV_I686_LAUNCHER";
    Registry32::AllowTrace();
    ExpectInstallRunsTheLauncher("i686", Registry32::ProductInstalled);
    std::wstring restart;
    EXPECT_TRUE(Registry32::RestartValue(restart));
    EXPECT_EQ(restart, L"\"" + m_installed + L"\"") << "the restart value does not name the installed launcher";
    ExpectRemovalLeavesTheProduct(Registry32::ProductInstalled);
    // The package owns the launcher's restart value: no value names the removed launcher.
    EXPECT_FALSE(Registry32::RestartValue(restart)) << std::string(restart.begin(), restart.end());
}

}  // namespace
