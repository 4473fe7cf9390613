// A clean machine for one run of the real launcher.
#include "tests/support/launcher_fixture.h"

#include "tests/support/registry_fixture.h"

namespace qarv::test {
namespace {

void ResetMachine() {
    DeleteHklmTree(L"SOFTWARE\\Qarv");
    DeleteHklmTree(L"SOFTWARE\\QarvSetup");
    DeleteHklmValue(kRunKey, kRestartValueName);
    ClearPendingFileRenames();
}

}  // namespace

void LauncherFixture::SetUp() { ResetMachine(); }

void LauncherFixture::TearDown() {
    ResetMachine();
    if (!m_copyFolder.empty()) {
        DeleteFileW((m_copyFolder + L"\\QarvPro 2009 Setup.exe").c_str());
        RemoveDirectoryW(m_copyFolder.c_str());
    }
}

HWND LauncherFixture::WaitForProgressDialog(DWORD processId, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : FindTopLevelWindows(processId, L"#32770", kLauncherCaption)) {
                if (GetDlgItem(window, 1001) != nullptr && IsWindowVisible(window)) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

std::wstring LauncherFixture::CopyOfLauncher(const std::string* payload) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    m_copyFolder = std::wstring(temp) + L"qarv-launcher-copy";
    CreateDirectoryW(m_copyFolder.c_str(), nullptr);
    const std::wstring copy = m_copyFolder + L"\\QarvPro 2009 Setup.exe";
    EXPECT_TRUE(CopyFileW(LauncherPath().c_str(), copy.c_str(), FALSE));
    if (payload != nullptr) {
        HANDLE update = BeginUpdateResourceW(copy.c_str(), FALSE);
        EXPECT_NE(update, nullptr);
        EXPECT_TRUE(UpdateResourceW(update, RT_RCDATA, MAKEINTRESOURCEW(129), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                    const_cast<char*>(payload->data()), static_cast<DWORD>(payload->size())));
        EXPECT_TRUE(EndUpdateResourceW(update, FALSE));
        HMODULE image = LoadLibraryExW(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        EXPECT_NE(image, nullptr);
        HRSRC resource = FindResourceW(image, MAKEINTRESOURCEW(129), RT_RCDATA);
        EXPECT_TRUE(resource != nullptr && SizeofResource(image, resource) == payload->size()) << "payload not replaced";
        FreeLibrary(image);
    }
    return copy;
}

}  // namespace qarv::test
