// A Cabinet.dll planted beside the launcher is never loaded: the probe program runs from a folder
// holding one, with Wine set to prefer a native Cabinet.dll for it (as Windows prefers the
// program's own folder), and still extracts through the system's library.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "common/unique_handle.h"
#include "tests/support/test_paths.h"

namespace {

using qarv::test::ProgramFolder;

// Wine's per-program setting that prefers a native Cabinet.dll, for the probe's file name only;
// removed again when the test ends.
constexpr wchar_t kProbeName[] = L"qarv_planted_probe.exe";
constexpr wchar_t kProbeSettings[] = L"Software\\Wine\\AppDefaults\\qarv_planted_probe.exe";

bool PreferNativeCabinetForProbe() {
    qarv::UniqueRegKey key;
    const std::wstring subKey = std::wstring(kProbeSettings) + L"\\DllOverrides";
    if (RegCreateKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    static const wchar_t kOrder[] = L"native,builtin";
    return RegSetValueExW(key.get(), L"cabinet", 0, REG_SZ, reinterpret_cast<const BYTE*>(kOrder), sizeof(kOrder)) ==
           ERROR_SUCCESS;
}

// Runs `commandLine`; returns its exit code, or -1.
DWORD RunProbe(std::wstring commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return static_cast<DWORD>(-1);
    }
    qarv::UniqueKernelHandle processHandle(process.hProcess);
    qarv::UniqueKernelHandle threadHandle(process.hThread);
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 99);
        return static_cast<DWORD>(-1);
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    return exitCode;
}

TEST(CabinetLibrary, PlantedCabinetDllBesideTheProgramIsNotLoaded) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"qarv_planted_" + std::to_wstring(GetCurrentProcessId());
    const std::wstring work = folder + L"\\work";
    const std::wstring probe = folder + L"\\" + kProbeName;
    const std::wstring planted = folder + L"\\Cabinet.dll";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW(work.c_str(), nullptr);
    qarv::ScopeExit cleanup([&] {
        DeleteFileW((work + L"\\setup.exe").c_str());
        RemoveDirectoryW(work.c_str());
        DeleteFileW(probe.c_str());
        DeleteFileW(planted.c_str());
        RemoveDirectoryW(folder.c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, kProbeSettings);
    });
    ASSERT_TRUE(PreferNativeCabinetForProbe());
    ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\cabinet_planted_probe.exe").c_str(), probe.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\cabinet_lacking_is_cabinet.dll").c_str(), planted.c_str(), FALSE));

    // The plant works: a load through the search path gets the planted library.
    ASSERT_EQ(RunProbe(L"\"" + probe + L"\" --search-path"), 3u);

    const std::wstring cabinet = ProgramFolder() + L"\\cabinet_data\\one.cab";
    EXPECT_EQ(RunProbe(L"\"" + probe + L"\" \"" + cabinet + L"\" \"" + work + L"\""), 1u);
    EXPECT_NE(GetFileAttributesW((work + L"\\setup.exe").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
