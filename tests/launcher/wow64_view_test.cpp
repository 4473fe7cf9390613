// The launcher that ships (i686) on 64-bit Windows, watched from the 64-bit side as support staff
// see it with the system's reg.exe: it reads its settings from the 32-bit registry view only, and
// its restart value and the product's record land under WOW6432Node. The commands of docs/support.md
// (reg add|query ... /reg:32) are run here as written.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/launcher_run.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/test_paths.h"
#include "tests/support/window_probe.h"

namespace {

namespace t = qarv::test;

constexpr const wchar_t* kRestartValue = L"QarvPro2009Setup";
constexpr const wchar_t* kWow64RunKey = L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kWow64ProductKey = L"SOFTWARE\\WOW6432Node\\Qarv";

std::wstring I686Launcher() { return t::FromUnixPath(QARV_I686_LAUNCHER); }

// A string value read through the given view (KEY_WOW64_32KEY or KEY_WOW64_64KEY).
bool ReadString(REGSAM view, const wchar_t* key, const wchar_t* name, std::wstring& value) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS) return false;
    std::vector<wchar_t> data(2048, L'\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>((data.size() - 1) * sizeof(wchar_t));
    const LONG read = RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(handle);
    if (read != ERROR_SUCCESS || type != REG_SZ) return false;
    value = data.data();
    return true;
}

bool ValueExists(REGSAM view, const wchar_t* key, const wchar_t* name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS) return false;
    const bool exists = RegQueryValueExW(handle, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(handle);
    return exists;
}

void DeleteInView(REGSAM view, const wchar_t* key, const wchar_t* name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_SET_VALUE | view, &handle) != ERROR_SUCCESS) return;
    RegDeleteValueW(handle, name);
    RegCloseKey(handle);
}

void DeleteTreeInView(REGSAM view, const wchar_t* key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS | view, &handle) == ERROR_SUCCESS) {
        RegDeleteTreeW(handle, nullptr);
        RegCloseKey(handle);
    }
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key, view, 0);
}

// Runs the prefix's reg.exe (the 64-bit one, as a command prompt on 64-bit Windows starts it) with
// `arguments`; its exit code, or -1 when it did not start or end within a minute.
int RunReg(const std::wstring& arguments) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(system) + L"\\reg.exe\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process)) {
        return -1;
    }
    CloseHandle(process.hThread);
    DWORD exitCode = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}

class Wow64RegistryView : public ::testing::Test {
protected:
    void SetUp() override { ResetBothViews(); }
    void TearDown() override {
        for (const std::wstring& folder : m_installFolders) {
            DeleteFileW((folder + L"\\Qarv2009.exe").c_str());
            DeleteFileW((folder + L"\\readme.txt").c_str());
            RemoveDirectoryW(folder.c_str());
        }
        ResetBothViews();
    }
    void ResetBothViews() {
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            DeleteTreeInView(view, L"SOFTWARE\\Qarv");
            DeleteTreeInView(view, L"SOFTWARE\\QarvSetup");
            DeleteInView(view, t::kRunKey, kRestartValue);
        }
        t::ClearPendingFileRenames();
    }

    // Runs the i686 launcher to its end, answering any box; returns its trace lines.
    std::vector<std::wstring> RunToTheEnd() {
        t::LauncherRun run(I686Launcher());
        if (run.ProcessId() == 0) {
            ADD_FAILURE() << "the i686 launcher did not start: can this machine run 32-bit code?";
            return {};
        }
        t::WaitUntil(
            [&] {
                const t::MessageBoxSeen box = t::WaitForMessageBox(run.ProcessId(), 100);
                if (box.window) t::DismissMessageBox(box.window);
                return run.WaitForExit(0);
            },
            90000);
        EXPECT_TRUE(run.WaitForExit(0)) << "the launcher did not end";
        return run.TraceLines();
    }

    // Waits for the demo installer's whole record (the folder, then the language) in the 32-bit
    // view; remembers the folder for cleanup.
    std::wstring InstalledFolder() {
        std::wstring folder;
        if (t::WaitUntil(
                [&] {
                    return ValueExists(KEY_WOW64_32KEY, L"SOFTWARE\\Qarv", L"fGiaoDien") &&
                           ReadString(KEY_WOW64_32KEY, L"SOFTWARE\\Qarv", L"szQarvDir", folder);
                },
                30000))
            m_installFolders.push_back(folder);
        return folder;
    }

    std::vector<std::wstring> m_installFolders;
};

TEST_F(Wow64RegistryView, SettingsRestartValueAndProductLiveInThe32BitView) {
    ASSERT_FALSE(std::string(QARV_I686_LAUNCHER).empty()) << "this build was not told where the i686 launcher is";

    // Switched on from a 64-bit command prompt without /reg:32: the launcher never sees it.
    ASSERT_EQ(RunReg(L"add HKLM\\SOFTWARE\\QarvSetup /v fAllowDebugPrint /t REG_DWORD /d 1 /f"), 0);
    EXPECT_TRUE(RunToTheEnd().empty()) << "the 64-bit view's switch reached the 32-bit launcher";

    std::wstring restart;
    ASSERT_TRUE(ReadString(KEY_WOW64_32KEY, t::kRunKey, kRestartValue, restart)) << "no restart value in the 32-bit view";
    EXPECT_EQ(restart, L"\"" + I686Launcher() + L"\"");
    std::wstring underWow6432Node;
    EXPECT_TRUE(ReadString(KEY_WOW64_64KEY, kWow64RunKey, kRestartValue, underWow6432Node));
    EXPECT_EQ(underWow6432Node, restart);
    EXPECT_FALSE(ValueExists(KEY_WOW64_64KEY, t::kRunKey, kRestartValue)) << "written to the 64-bit Run key";
    EXPECT_EQ(RunReg(L"query HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run /v QarvPro2009Setup /reg:32"), 0);
    EXPECT_NE(RunReg(L"query HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run /v QarvPro2009Setup"), 0);

    // The 32-bit demo installer records the product in the same view, and installs it where a
    // 32-bit program's Program Files is.
    const std::wstring folder = InstalledFolder();
    ASSERT_FALSE(folder.empty()) << "the demo installer did not record the product in the 32-bit view";
    std::wstring seenFrom64;
    EXPECT_TRUE(ReadString(KEY_WOW64_64KEY, kWow64ProductKey, L"szQarvDir", seenFrom64));
    EXPECT_EQ(seenFrom64, folder);
    EXPECT_FALSE(ValueExists(KEY_WOW64_64KEY, L"SOFTWARE\\Qarv", L"szQarvDir"));
    EXPECT_NE(folder.find(L"\\Program Files (x86)\\"), std::wstring::npos) << testing::PrintToString(folder);

    // Switched on with /reg:32, as docs/support.md tells support staff: the next run writes its lines.
    DeleteTreeInView(KEY_WOW64_32KEY, L"SOFTWARE\\Qarv");
    ASSERT_EQ(RunReg(L"add HKLM\\SOFTWARE\\QarvSetup /v fAllowDebugPrint /t REG_DWORD /d 1 /f /reg:32"), 0);
    const std::vector<std::wstring> lines = RunToTheEnd();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[1], L"VURoruz: Extracting file ...");
    EXPECT_EQ(lines[6], L"VURoruz: Process created");
    InstalledFolder();
}

}  // namespace
