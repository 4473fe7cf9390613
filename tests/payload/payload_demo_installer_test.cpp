// The demo payload's installer, run for real from the folder the packer packed: it must install
// the stand-in product where the installed-product check looks, and exit on its own.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "common/unique_handle.h"
#include "tests/support/test_paths.h"

#ifdef QARV_DEMO_STAGE

namespace {

std::wstring ProgramFilesFolder() {
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

// Removes what an installation left, before and after the test.
void Uninstall(const std::wstring& folder) {
    const std::wstring readme = folder + L"\\readme.txt";
    SetFileAttributesW(readme.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(readme.c_str());
    DeleteFileW((folder + L"\\Qarv2009.exe").c_str());
    RemoveDirectoryW(folder.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Qarv");
}

TEST(PayloadDemoInstaller, InstallsTheStandInProductAndExits) {
    const std::wstring stage = qarv::test::FromUnixPath(QARV_DEMO_STAGE);
    const std::wstring installFolder = ProgramFilesFolder() + L"\\Qarv\\QarvPro 2009";
    Uninstall(installFolder);
    qarv::ScopeExit cleanup([&] { Uninstall(installFolder); });

    std::wstring commandLine = L"\"" + stage + L"\\Qarv2009Install.exe\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, stage.c_str(), &startup,
                               &process));
    qarv::UniqueKernelHandle processHandle(process.hProcess);
    qarv::UniqueKernelHandle threadHandle(process.hThread);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0) << "the installer waits for someone";
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u);

    EXPECT_NE(GetFileAttributesW((installFolder + L"\\Qarv2009.exe").c_str()), INVALID_FILE_ATTRIBUTES);
    wchar_t folder[MAX_PATH] = {};
    DWORD size = sizeof folder;
    DWORD type = 0;
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Qarv", L"szQarvDir", RRF_RT_ANY, &type, folder, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::wstring(folder), installFolder);
    DWORD language = 7;
    size = sizeof language;
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Qarv", L"fGiaoDien", RRF_RT_ANY, &type, &language, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(language, 0u);
}

}  // namespace

#endif
