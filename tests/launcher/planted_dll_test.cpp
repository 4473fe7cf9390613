// DLLs planted beside the launcher under the names of the system DLLs it loads at run time are
// never loaded, even with Wine told to prefer a DLL found beside the program (as Windows does).
// A control first shows that in that folder and with that setting an ordinary load by name does
// pick the planted copy up.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/dll_search.h"
#include "tests/support/launcher_fixture.h"
#include "tests/support/registry_fixture.h"

using namespace qarv;

namespace {

using namespace qarv::test;

constexpr const wchar_t* kMarkKey = L"SOFTWARE\\QarvTest\\Planted";
// The DLLs the launcher's own work loads after start-up: the cabinet library and the CryptoAPI
// provider. (DLLs that the system loader or Wine's user32 load while the process starts, before
// any of the launcher's code runs, are outside what the launcher can restrict.)
constexpr const wchar_t* kPlantedNames[] = {L"cabinet.dll", L"rsaenh.dll"};

// Wine's per-program setting that prefers a DLL found beside the program, as Windows does.
void PreferPlantedDlls(const wchar_t* programName, bool prefer) {
    const std::wstring key = std::wstring(L"Software\\Wine\\AppDefaults\\") + programName + L"\\DllOverrides";
    if (!prefer) {
        RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(L"Software\\Wine\\AppDefaults\\") + programName).c_str());
        return;
    }
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) != ERROR_SUCCESS) return;
    static const wchar_t kOrder[] = L"native,builtin";
    for (const wchar_t* dll : {L"cabinet", L"rsaenh"})
        RegSetValueExW(handle, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(kOrder), sizeof(kOrder));
    RegCloseKey(handle);
}

// The child's side, run from a copy of this program in the planted folder: a plain load by name,
// without and with the launcher's start-up restriction.
TEST(PlantedChild, DISABLED_LoadByName) { LoadLibraryW(L"cabinet.dll"); }
TEST(PlantedChild, DISABLED_LoadByNameAfterRestricting) {
    RestrictDllSearchToSystem();
    LoadLibraryW(L"cabinet.dll");
}

class PlantedDllTest : public LauncherFixture {
protected:
    void SetUp() override {
        LauncherFixture::SetUp();
        DeleteHklmTree(kMarkKey);
        m_launcher = CopyOfLauncher();
        for (const wchar_t* name : kPlantedNames) {
            ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\planted_marker.dll").c_str(), (m_copyFolder + L"\\" + name).c_str(), FALSE));
        }
        PreferPlantedDlls(L"control.exe", true);
        PreferPlantedDlls(L"QarvPro 2009 Setup.exe", true);
    }
    void TearDown() override {
        PreferPlantedDlls(L"control.exe", false);
        PreferPlantedDlls(L"QarvPro 2009 Setup.exe", false);
        for (const wchar_t* name : kPlantedNames) DeleteFileW((m_copyFolder + L"\\" + name).c_str());
        DeleteFileW((m_copyFolder + L"\\control.exe").c_str());
        DeleteHklmTree(kMarkKey);
        LauncherFixture::TearDown();
    }
    bool Marked(const wchar_t* name) { return HklmValueExists(kMarkKey, name); }

    // Runs one PlantedChild test in a copy of this program placed in the planted folder.
    bool RunChild(const char* test) {
        wchar_t self[MAX_PATH * 2];
        GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
        const std::wstring control = m_copyFolder + L"\\control.exe";
        if (!CopyFileW(self, control.c_str(), FALSE)) return false;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        std::wstring commandLine = L"\"" + control + L"\" --gtest_also_run_disabled_tests --gtest_filter=PlantedChild.DISABLED_" +
                                   std::wstring(test, test + strlen(test));
        if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                            &startup, &process)) {
            return false;
        }
        WaitForSingleObject(process.hProcess, 60000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return true;
    }

    std::wstring m_launcher;
};

TEST_F(PlantedDllTest, StartUpRestrictionKeepsALoadByNameInTheSystemDirectory) {
    ASSERT_TRUE(RunChild("LoadByName"));
    ASSERT_TRUE(Marked(L"cabinet.dll")) << "without the restriction the planted copy loads: the setting works";
    DeleteHklmTree(kMarkKey);
    ASSERT_TRUE(RunChild("LoadByNameAfterRestricting"));
    EXPECT_FALSE(Marked(L"cabinet.dll"));
}

TEST_F(PlantedDllTest, NoPlantedDllIsLoadedByTheLauncher) {
    // The launcher, in the same folder with the same setting, runs to its end untouched.
    SetHklmDword(L"SOFTWARE\\QarvSetup", L"fAllowDebugPrint", 1);
    LauncherRun run(m_launcher);
    ASSERT_NE(run.ProcessId(), 0u);
    WaitUntil(
        [&] {
            const MessageBoxSeen box = WaitForMessageBox(run.ProcessId(), 100);
            if (box.window) DismissMessageBox(box.window);
            return run.WaitForExit(0);
        },
        90000);
    ASSERT_TRUE(run.WaitForExit(0));
    for (const wchar_t* name : kPlantedNames) {
        EXPECT_FALSE(Marked(name)) << "planted " << std::string(name, name + wcslen(name)) << " was loaded";
    }
    const std::vector<std::wstring> lines = run.TraceLines();
    ASSERT_EQ(lines.size(), 7u) << "a complete run, digest included";
    EXPECT_EQ(lines[3].rfind(L"VURoruz: Target file MD5 is ", 0), 0u);
}

}  // namespace
