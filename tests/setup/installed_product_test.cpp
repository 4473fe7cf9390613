// Installed-product detection and the restart registration against the test prefix's real
// registry and file system.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/progress_dialog.h"
#include "setup/installed_product.h"
#include "tests/support/file_tree.h"
#include "tests/support/registry_fixture.h"

using namespace qarv;

namespace {

namespace t = qarv::test;

class InstalledProduct : public ::testing::Test {
protected:
    void SetUp() override {
        t::DeleteHklmValue(kProductKey, kInstallFolderValue);
        t::DeleteHklmValue(kProductKey, kInterfaceLanguageValue);
        t::DeleteHklmValue(kRunKey, kRestartValue);
        m_folder = qarv::test::TemporaryFolder() + L"\\QarvInstalled" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(m_folder.c_str(), nullptr);
    }
    void TearDown() override {
        DeleteFileW((m_folder + L"\\Qarv2009.exe").c_str());
        RemoveDirectoryW((m_folder + L"\\Qarv2009.exe").c_str());
        RemoveDirectoryW(m_folder.c_str());
        t::DeleteHklmValue(kProductKey, kInstallFolderValue);
        t::DeleteHklmValue(kProductKey, kInterfaceLanguageValue);
        t::DeleteHklmValue(kRunKey, kRestartValue);
    }

    void PlaceMainProgram() {
        HANDLE file = CreateFileW((m_folder + L"\\Qarv2009.exe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
    }
    void StoreFolder(const std::wstring& folder, DWORD type = REG_SZ) {
        t::SetHklmString(kProductKey, kInstallFolderValue, folder, type);
    }
    void StoreRawFolder(const std::wstring& characters) {  // no terminator
        t::SetHklmValue(kProductKey, kInstallFolderValue, REG_SZ, characters.data(),
                        static_cast<DWORD>(characters.size() * sizeof(wchar_t)));
    }
    void LeaveRestartValue() { t::SetHklmString(kRunKey, kRestartValue, L"\"C:\\old\\setup.exe\""); }

    std::wstring m_folder;
};

TEST_F(InstalledProduct, MissingProductKeyIsCreatedEmptyAndMeansNotInstalled) {
    t::DeleteHklmTree(kProductKey);
    wchar_t buffer[kInstallFolderCapacity];
    EXPECT_EQ(ReadInstallFolder(buffer, kInstallFolderCapacity), 0);
    EXPECT_EQ(buffer[0], L'\0');
    EXPECT_TRUE(t::HklmKeyExists(kProductKey));

    CQarv2009VURoruzDlg dialog;
    LeaveRestartValue();
    EXPECT_EQ(IsProductInstalled(&dialog), 0);
    EXPECT_TRUE(t::HklmValueExists(kRunKey, kRestartValue));
}

TEST_F(InstalledProduct, OnlyANonEmptyPlainStringIsAFolder) {
    PlaceMainProgram();
    wchar_t buffer[kInstallFolderCapacity];
    StoreFolder(m_folder, REG_EXPAND_SZ);
    EXPECT_EQ(ReadInstallFolder(buffer, kInstallFolderCapacity), 0);
    EXPECT_EQ(IsProductInstalled(nullptr), 0);
    StoreFolder(L"");
    EXPECT_EQ(ReadInstallFolder(buffer, kInstallFolderCapacity), 0);
    EXPECT_EQ(IsProductInstalled(nullptr), 0);
    StoreFolder(m_folder);
    EXPECT_EQ(ReadInstallFolder(buffer, kInstallFolderCapacity), static_cast<int>(m_folder.size()));
    EXPECT_EQ(std::wstring(buffer), m_folder);
    EXPECT_EQ(IsProductInstalled(nullptr), 1);
}

TEST_F(InstalledProduct, FolderLengthAtTheBufferBoundStaysInsideTheBuffer) {
    // A larger array with a guard tail shows any read or write past the 260 characters handed in.
    std::vector<wchar_t> buffer(kInstallFolderCapacity + 16, L'#');
    auto tailIntact = [&] {
        for (size_t i = kInstallFolderCapacity; i < buffer.size(); ++i) {
            if (buffer[i] != L'#') return false;
        }
        return true;
    };

    const std::wstring longest = L"C:\\" + std::wstring(256, L'a');  // 259 characters
    StoreFolder(longest);
    EXPECT_EQ(ReadInstallFolder(buffer.data(), kInstallFolderCapacity), 259);
    EXPECT_EQ(std::wstring(buffer.data()), longest);
    EXPECT_TRUE(tailIntact());

    StoreFolder(longest + L"b");  // 260 characters and the terminator: does not fit
    EXPECT_EQ(ReadInstallFolder(buffer.data(), kInstallFolderCapacity), 0);
    EXPECT_EQ(buffer[0], L'\0');
    EXPECT_TRUE(tailIntact());

    StoreRawFolder(longest + L"b");  // exactly 520 bytes, no terminator: would be cut
    EXPECT_EQ(ReadInstallFolder(buffer.data(), kInstallFolderCapacity), 0);
    EXPECT_EQ(buffer[0], L'\0');
    EXPECT_TRUE(tailIntact());

    StoreRawFolder(m_folder);  // shorter, no terminator: ends inside the buffer
    std::fill(buffer.begin(), buffer.end(), L'#');
    EXPECT_EQ(ReadInstallFolder(buffer.data(), kInstallFolderCapacity), static_cast<int>(m_folder.size()));
    EXPECT_EQ(std::wstring(buffer.data()), m_folder);
    EXPECT_TRUE(tailIntact());
}

TEST_F(InstalledProduct, MainProgramPathGetsExactlyOneBackslash) {
    EXPECT_EQ(BuildMainProgramPath(L"C:\\Program Files\\Qarv"), L"C:\\Program Files\\Qarv\\Qarv2009.exe");
    EXPECT_EQ(BuildMainProgramPath(L"C:\\Program Files\\Qarv\\"), L"C:\\Program Files\\Qarv\\Qarv2009.exe");
    EXPECT_EQ(BuildMainProgramPath(L"C:\\Qarv/"), L"C:\\Qarv/\\Qarv2009.exe");
    EXPECT_EQ(BuildMainProgramPath(nullptr), L"");
    EXPECT_EQ(BuildMainProgramPath(L""), L"");

    const std::wstring longest(1022, L'x');
    EXPECT_EQ(BuildMainProgramPath(longest.c_str()), longest + L"\\Qarv2009.exe");
    const std::wstring tooLong(1023, L'x');
    EXPECT_EQ(BuildMainProgramPath(tooLong.c_str()), L"");
    // No terminator among the first 1024 characters: nothing beyond them is read.
    const std::vector<wchar_t> unterminated(1024, L'x');
    EXPECT_EQ(BuildMainProgramPath(unterminated.data()), L"");
}

TEST_F(InstalledProduct, InstalledOnlyWithTheMainProgramInAnExistingFolder) {
    StoreFolder(m_folder + L"\\missing");
    EXPECT_EQ(IsProductInstalled(nullptr), 0);

    StoreFolder(m_folder);
    EXPECT_EQ(IsProductInstalled(nullptr), 0);  // folder without Qarv2009.exe

    StoreFolder(m_folder + L"\\");  // trailing backslash, and a folder named like the program
    ASSERT_TRUE(CreateDirectoryW((m_folder + L"\\Qarv2009.exe").c_str(), nullptr));
    EXPECT_EQ(IsProductInstalled(nullptr), 1);
    RemoveDirectoryW((m_folder + L"\\Qarv2009.exe").c_str());

    PlaceMainProgram();
    StoreFolder(m_folder + L"/");  // "...\QarvInstalledN/\Qarv2009.exe" still names the file
    EXPECT_EQ(IsProductInstalled(nullptr), 1);
    StoreFolder(m_folder + L"\\Qarv2009.exe");  // a file, not a folder
    EXPECT_EQ(IsProductInstalled(nullptr), 0);
}

TEST_F(InstalledProduct, InterfaceLanguageComesFromADwordOnly) {
    PlaceMainProgram();
    StoreFolder(m_folder);
    struct Case {
        const wchar_t* description;
        int stored;  // -1: missing, -2: stored as a string
        int expected;
    };
    const Case cases[] = {
        {L"missing", -1, 7}, {L"string", -2, 7}, {L"0", 0, 0}, {L"1", 1, 1}, {L"2", 2, 2},
    };
    for (const Case& c : cases) {
        t::DeleteHklmValue(kProductKey, kInterfaceLanguageValue);
        if (c.stored == -2) t::SetHklmString(kProductKey, kInterfaceLanguageValue, L"1");
        if (c.stored >= 0) t::SetHklmDword(kProductKey, kInterfaceLanguageValue, static_cast<DWORD>(c.stored));
        LeaveRestartValue();

        CQarv2009VURoruzDlg dialog;
        dialog.SetInterfaceLanguage(7);  // shows whether the check wrote the flag at all
        EXPECT_EQ(IsProductInstalled(&dialog), 1) << c.description;
        EXPECT_EQ(dialog.InterfaceLanguage(), c.expected) << c.description;
        EXPECT_FALSE(t::HklmValueExists(kRunKey, kRestartValue)) << c.description;
    }
    // Installed while no Run value exists: still installed.
    EXPECT_EQ(IsProductInstalled(nullptr), 1);
}

TEST_F(InstalledProduct, RestartValueIsTheQuotedModulePath) {
    wchar_t modulePath[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
    ASSERT_GT(length, 0u);
    const std::wstring expected = L"\"" + std::wstring(modulePath, length) + L"\"";

    LeaveRestartValue();
    RegisterRestart();  // overwrites an older value
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    wchar_t data[MAX_PATH + 8] = {};
    DWORD type = 0;
    DWORD size = sizeof(data);
    const LONG read = RegQueryValueExW(key, kRestartValue, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    ASSERT_EQ(read, ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::wstring(data), expected);
    EXPECT_EQ(size, (expected.size() + 1) * sizeof(wchar_t));

    UnregisterRestart();
    EXPECT_FALSE(t::HklmValueExists(kRunKey, kRestartValue));
    UnregisterRestart();  // a missing value is no error
    EXPECT_FALSE(t::HklmValueExists(kRunKey, kRestartValue));
}

}  // namespace
