// The real launcher against an installed and a missing product: the installed notice in the
// product's language, the restart value removed before it, no progress dialog; and the quoted
// restart value of the latest start when nothing is installed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/file_tree.h"
#include "tests/support/installed_temp_folder.h"
#include "tests/support/launcher_run.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/test_paths.h"
#include "tests/support/window_probe.h"

namespace {

namespace t = qarv::test;

constexpr const wchar_t* kProductKey = L"SOFTWARE\\Qarv";
constexpr const wchar_t* kRestartValue = L"QarvPro2009Setup";
constexpr DWORD kWaitMs = 30000;

const std::wstring kNoticeVietnamese =
    L"Máy tính của bạn đã được cài sẵn QarvPro 2009 Internet Security,\nđể kích hoạt bạn có thể bấm vào biểu "
    L"tượng hình cái khiên có chữ thập màu đỏ ở bên dưới.";
const std::wstring kNoticeEnglish =
    L"QarvPro 2009 Internet Security has already been installed on your computer.\nClick on the shield symbol "
    L"with a red cross inside at the bottom right of the screen to start.";
const std::wstring kSetupError = L"Có lỗi trong quá trình cài đặt. Bạn hãy thử lại sau!";

// The Run value as stored: its text and its byte count.
bool ReadRestartValue(std::wstring& text, DWORD& size) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, t::kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    std::vector<wchar_t> data(2048, L'\0');
    DWORD type = 0;
    size = static_cast<DWORD>((data.size() - 1) * sizeof(wchar_t));
    const LONG read = RegQueryValueExW(key, kRestartValue, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_SZ) return false;
    text = data.data();
    return true;
}

// The launcher's visible progress dialog, if any: its caption but not a message box.
bool ProgressDialogVisible(DWORD processId) {
    for (HWND window : t::FindTopLevelWindows(processId, L"#32770", L"QarvPro 2009 Setup")) {
        if (IsWindowVisible(window) && !t::IsMessageBox(window)) return true;
    }
    return false;
}

class InstalledLauncher : public ::testing::Test {
protected:
    void SetUp() override {
        m_base = qarv::test::TemporaryFolder() + L"\\QarvLauncherCase" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(m_base.c_str(), nullptr);
        ForgetProduct();
    }
    void TearDown() override {
        ForgetProduct();
        for (auto it = m_cleanup.rbegin(); it != m_cleanup.rend(); ++it) {
            DeleteFileW(it->c_str());
            RemoveDirectoryW(it->c_str());
        }
        RemoveDirectoryW(m_base.c_str());
    }
    void ForgetProduct() {
        t::DeleteHklmValue(kProductKey, L"szQarvDir");
        t::DeleteHklmValue(kProductKey, L"fGiaoDien");
        t::DeleteHklmValue(t::kRunKey, kRestartValue);
    }

    // An install folder holding Qarv2009.exe, recorded in szQarvDir.
    void InstallProduct() {
        const std::wstring folder = m_base + L"\\Qarv Installed";
        CreateDirectoryW(folder.c_str(), nullptr);
        m_cleanup.push_back(folder);
        const std::wstring program = folder + L"\\Qarv2009.exe";
        HANDLE file = CreateFileW(program.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
        m_cleanup.push_back(program);
        t::SetHklmString(kProductKey, L"szQarvDir", folder);
    }

    // A copy of the launcher at `folder`\QarvPro 2009 Setup.exe; empty when it cannot be made.
    std::wstring CopyLauncher(const std::wstring& folder) {
        if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return L"";
        m_cleanup.push_back(folder);
        const std::wstring copy = folder + L"\\QarvPro 2009 Setup.exe";
        if (!CopyFileW(t::LauncherPath().c_str(), copy.c_str(), FALSE)) return L"";
        m_cleanup.push_back(copy);
        return copy;
    }

    std::wstring m_base;
    std::vector<std::wstring> m_cleanup;
};

TEST_F(InstalledLauncher, InstalledProductGetsTheNoticeOfItsLanguageAndNoProgressDialog) {
    InstallProduct();
    struct Case {
        DWORD language;
        const std::wstring* notice;  // null: no notice at all
    };
    const Case cases[] = {{0, &kNoticeVietnamese}, {1, &kNoticeEnglish}, {2, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "fGiaoDien " << c.language);
        t::SetHklmDword(kProductKey, L"fGiaoDien", c.language);
        t::SetHklmString(t::kRunKey, kRestartValue, L"\"C:\\earlier\\QarvPro 2009 Setup.exe\"");

        t::LauncherRun run;
        const DWORD processId = run.ProcessId();
        ASSERT_NE(processId, 0u);
        bool progressSeen = false;
        if (c.notice != nullptr) {
            const t::MessageBoxSeen box = t::WaitForMessageBox(processId, kWaitMs);
            ASSERT_NE(box.window, nullptr);
            progressSeen = ProgressDialogVisible(processId);
            // The value is gone before the notice shows.
            EXPECT_FALSE(t::HklmValueExists(t::kRunKey, kRestartValue));
            EXPECT_EQ(box.caption, L"QarvPro 2009 Setup");
            EXPECT_EQ(box.text, *c.notice);
            EXPECT_EQ(box.buttons.size(), 1u);
            t::DismissMessageBox(box.window);
            DWORD exitCode = 1;
            EXPECT_TRUE(run.WaitForExit(kWaitMs, &exitCode));
            EXPECT_EQ(exitCode, 0u) << "an installed product is success for a deployment tool";
        } else {
            bool boxSeen = false;
            const bool exited = t::WaitUntil(
                [&] {
                    for (HWND window : t::FindTopLevelWindows(processId, nullptr, nullptr)) {
                        if (IsWindowVisible(window) && t::IsMessageBox(window)) boxSeen = true;
                    }
                    progressSeen = progressSeen || ProgressDialogVisible(processId);
                    return run.WaitForExit(0);
                },
                kWaitMs);
            EXPECT_TRUE(exited);
            EXPECT_FALSE(boxSeen);
            DWORD exitCode = 1;
            EXPECT_TRUE(run.WaitForExit(0, &exitCode));
            EXPECT_EQ(exitCode, 0u);
        }
        EXPECT_FALSE(progressSeen);
        EXPECT_FALSE(t::HklmValueExists(t::kRunKey, kRestartValue));
    }
}

// With the temporary folder unusable the setup stops at its error box, so the demo product is
// never installed and each run ends the same way.
TEST_F(InstalledLauncher, NotInstalledTwiceLeavesTheLatestLauncherQuoted) {
    const std::wstring first = CopyLauncher(m_base + L"\\first copy");
    const std::wstring second = CopyLauncher(m_base + L"\\second copy");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    t::TemporaryFolderOverride unusable(L"C:\\no such folder\\for the launcher");

    for (const std::wstring& launcher : {first, second}) {
        SCOPED_TRACE(testing::Message() << launcher.c_str());
        t::LauncherRun run(launcher);
        ASSERT_NE(run.ProcessId(), 0u);
        const t::MessageBoxSeen box = t::WaitForMessageBox(run.ProcessId(), kWaitMs);
        ASSERT_NE(box.window, nullptr);
        EXPECT_EQ(box.text, kSetupError);
        EXPECT_TRUE(ProgressDialogVisible(run.ProcessId()));

        std::wstring value;
        DWORD size = 0;
        ASSERT_TRUE(ReadRestartValue(value, size));
        EXPECT_EQ(value, L"\"" + launcher + L"\"");
        EXPECT_EQ(size, (launcher.size() + 3) * sizeof(wchar_t));  // both quotes and the terminator
        t::DismissMessageBox(box.window);
        DWORD exitCode = 0;
        EXPECT_TRUE(run.WaitForExit(kWaitMs, &exitCode));
        EXPECT_EQ(exitCode, 1603u);
    }
    // A failed run leaves the value for the next logon.
    std::wstring value;
    DWORD size = 0;
    ASSERT_TRUE(ReadRestartValue(value, size));
    EXPECT_EQ(value, L"\"" + second + L"\"");
}

// The whole round with the demo payload: the first start installs the demo product and leaves the
// quoted value; the next start finds it installed, removes the value and shows notice 507.
TEST_F(InstalledLauncher, DemoInstallThenNextStartShowsTheInstalledNotice) {
    t::LauncherRun first;
    ASSERT_NE(first.ProcessId(), 0u);
    DWORD exitCode = 0;
    const bool firstExited = first.WaitForExit(90000, &exitCode);
    if (!firstExited) {
        const t::MessageBoxSeen box = t::WaitForMessageBox(first.ProcessId(), 0);
        if (box.window != nullptr) t::DismissMessageBox(box.window);
        FAIL() << "the first run did not end by itself; box: " << testing::PrintToString(box.text);
    }
    EXPECT_EQ(exitCode, 0u) << "the installer was started";
    std::wstring value;
    DWORD size = 0;
    ASSERT_TRUE(ReadRestartValue(value, size));
    EXPECT_EQ(value, L"\"" + t::LauncherPath() + L"\"");

    // The demo installer runs on its own after the launcher has gone.
    std::wstring installFolder;
    ASSERT_TRUE(t::WaitUntil([&] { return t::ReadHklmString(kProductKey, L"szQarvDir", installFolder); }, kWaitMs));
    m_cleanup.push_back(installFolder);
    m_cleanup.push_back(installFolder + L"\\Qarv2009.exe");
    m_cleanup.push_back(installFolder + L"\\readme.txt");
    ASSERT_TRUE(t::WaitUntil([&] { return GetFileAttributesW((installFolder + L"\\Qarv2009.exe").c_str()) != INVALID_FILE_ATTRIBUTES; }, kWaitMs));

    t::LauncherRun second;
    ASSERT_NE(second.ProcessId(), 0u);
    const t::MessageBoxSeen box = t::WaitForMessageBox(second.ProcessId(), kWaitMs);
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.text, kNoticeVietnamese);
    EXPECT_FALSE(t::HklmValueExists(t::kRunKey, kRestartValue));
    t::DismissMessageBox(box.window);
    exitCode = 1;
    EXPECT_TRUE(second.WaitForExit(kWaitMs, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

}  // namespace
