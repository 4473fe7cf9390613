// Runs of the real launcher where names meet Windows: payloads whose cabinets hold names that
// Windows takes for one file, device names or the container's own name end in the setup error
// without a spliced file; a user whose TEMP lies outside the ANSI code page is set up all the same.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "payload/scramble_transform.h"
#include "tests/support/launcher_fixture.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/cabinet_handmade.h"

using namespace qarv;

namespace {

using namespace qarv::test;

const std::wstring kSetupError = L"C\u00F3 l\u1ED7i trong qu\u00E1 tr\u00ECnh c\u00E0i \u0111\u1EB7t. B\u1EA1n h\u00E3y th\u1EED l\u1EA1i sau!";
const std::wstring kDropping = L"VURoruz: Dropping file to ";
const std::wstring kExtracted = L"VURoruz: File successfully extracted to ";

// The payload resource for `files`: a cabinet, scrambled as the packer does.
std::string PayloadFor(const std::vector<HandmadeCabinetFile>& files) {
    std::vector<unsigned char> cabinet = MakeHandmadeCabinet(files);
    ScramblePayload(cabinet.data(), cabinet.size());
    return std::string(cabinet.begin(), cabinet.end());
}

// The work folder a run named in its first trace line.
std::wstring WorkFolderOf(const std::vector<std::wstring>& lines) {
    if (lines.empty() || lines[0].compare(0, kDropping.size(), kDropping) != 0) return {};
    const std::wstring container = lines[0].substr(kDropping.size(), lines[0].size() - kDropping.size() - 4);
    return container.substr(0, container.rfind(L'\\'));
}

ULONGLONG FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return ~0ull;
    return (ULONGLONG{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

class NamesRunTest : public LauncherFixture {
protected:
    // Runs a launcher carrying `payload` with the trace on, answers the setup error box it must
    // show, and returns the trace once the launcher has ended.
    std::vector<std::wstring> RunExpectingTheSetupError(const std::string& payload) {
        SetHklmDword(L"SOFTWARE\\QarvSetup", L"fAllowDebugPrint", 1);
        LauncherRun run(CopyOfLauncher(&payload));
        const MessageBoxSeen box = WaitForMessageBox(run.ProcessId(), 30000);
        EXPECT_NE(box.window, nullptr) << "no error box";
        EXPECT_EQ(box.text, kSetupError);
        if (box.window) DismissMessageBox(box.window);
        EXPECT_TRUE(run.WaitForExit(20000)) << "the launcher must end after the error box";
        EXPECT_TRUE(HklmValueExists(kRunKey, kRestartValueName)) << "the next logon tries again";
        return run.TraceLines();
    }
};

TEST_F(NamesRunTest, NamesOfOneFileEndInTheSetupErrorAndSpliceNothing) {
    const std::string program(11000, 'P');
    struct Case {
        const char* earlier;
        const char* later;
        const wchar_t* kept;  // the earlier file as it must stay on disk
    };
    const Case cases[] = {
        {"data.bin", "data.bin.", L"data.bin"},
        {"data.bin", "data.bin ", L"data.bin"},
        {"Setup.ini", "SETUP.INI", L"Setup.ini"},
        {"readme.txt", "qarv2009Setup.dat", nullptr},
        {"readme.txt", "QARV2009SETUP.DAT", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.later);
        const std::vector<std::wstring> lines =
            RunExpectingTheSetupError(PayloadFor({{c.earlier, program}, {c.later, "twelve bytes"}, {"setup.exe", "MZ"}}));
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[2], L"VURoruz: File extraction failed");
        const std::wstring folder = WorkFolderOf(lines);
        ASSERT_FALSE(folder.empty());
        if (c.kept != nullptr) {
            EXPECT_EQ(FileSize(folder + L"\\" + c.kept), program.size());
        }
        EXPECT_EQ(GetFileAttributesW((folder + L"\\setup.exe").c_str()), INVALID_FILE_ATTRIBUTES) << "nothing after it";
    }
}

TEST_F(NamesRunTest, ReservedDeviceNamesEndInTheSetupError) {
    // COM¹ and LPT³ as gcab writes them: UTF-8, flagged.
    for (const char* name : {"aux.h", "CONIN$", "COM\xC2\xB9.log", "LPT\xC2\xB3"}) {
        SCOPED_TRACE(name);
        const std::vector<std::wstring> lines =
            RunExpectingTheSetupError(PayloadFor({{"readme.txt", "r"}, {name, "device", 0x3A2F, 0x528F, 0xA0}}));
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[2], L"VURoruz: File extraction failed");
    }
}

TEST_F(NamesRunTest, CabinetWithoutFilesEndsInTheSetupError) {
    const std::vector<std::wstring> lines = RunExpectingTheSetupError(PayloadFor({}));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], L"VURoruz: File extraction failed");
}

// The user's environment as the logon builds it: TEMP and TMP under HKCU\Environment, written by
// regedit from a UTF-16 file so that the Vietnamese letters arrive intact.
class UserTempTest : public LauncherFixture {
protected:
    void SetUp() override {
        LauncherFixture::SetUp();
        for (const wchar_t* name : {L"TEMP", L"TMP"}) {
            Saved saved;
            saved.name = name;
            wchar_t value[MAX_PATH] = {};
            DWORD size = sizeof(value);
            saved.present = RegGetValueW(HKEY_CURRENT_USER, L"Environment", name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ |
                                         RRF_NOEXPAND, &saved.type, value, &size) == ERROR_SUCCESS;
            saved.value = value;
            GetEnvironmentVariableW(name, value, MAX_PATH);
            saved.process = value;
            m_saved.push_back(saved);
        }
    }
    void TearDown() override {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Environment", 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            for (const Saved& saved : m_saved) {
                if (saved.present) {
                    RegSetValueExW(key, saved.name, 0, saved.type, reinterpret_cast<const BYTE*>(saved.value.c_str()),
                                   static_cast<DWORD>((saved.value.size() + 1) * sizeof(wchar_t)));
                } else {
                    RegDeleteValueW(key, saved.name);
                }
            }
            RegCloseKey(key);
        }
        for (const Saved& saved : m_saved) SetEnvironmentVariableW(saved.name, saved.process.c_str());
        LauncherFixture::TearDown();
    }

    // Writes TEMP and TMP = `folder` through regedit, then takes the user's environment from the
    // registry into this process, whose children (the launcher) inherit it.
    void SetUserTemp(const std::wstring& folder) {
        std::wstring escaped;
        for (wchar_t c : folder) escaped += c == L'\\' ? std::wstring(L"\\\\") : std::wstring(1, c);
        const std::wstring text = L"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Environment]\r\n"
                                  L"\"TEMP\"=\"" + escaped + L"\"\r\n\"TMP\"=\"" + escaped + L"\"\r\n";
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        const std::wstring file = std::wstring(temp) + L"qarv-user-temp.reg";
        std::vector<unsigned char> bytes(reinterpret_cast<const unsigned char*>(text.data()),
                                         reinterpret_cast<const unsigned char*>(text.data() + text.size()));
        ASSERT_TRUE(WriteBytes(file, bytes));
        std::wstring command = L"regedit.exe /s \"" + file + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
        EXPECT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        DeleteFileW(file.c_str());

        for (const wchar_t* name : {L"TEMP", L"TMP"}) {
            wchar_t value[MAX_PATH] = {};
            DWORD size = sizeof(value);
            ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"Environment", name, RRF_RT_REG_SZ, nullptr, value, &size), ERROR_SUCCESS);
            ASSERT_EQ(std::wstring(value), folder) << "regedit did not write the name intact";
            SetEnvironmentVariableW(name, value);
        }
    }

    struct Saved {
        const wchar_t* name = nullptr;
        bool present = false;
        DWORD type = REG_SZ;
        std::wstring value;
        std::wstring process;
    };
    std::vector<Saved> m_saved;
};

// The work folders a run left under `temp`, each with the program it extracted.
std::vector<std::wstring> ExtractedPrograms(const std::wstring& temp) {
    std::vector<std::wstring> programs;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((temp + L"\\_IS*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return programs;
    do {
        const std::wstring program = temp + L"\\" + entry.cFileName + L"\\Qarv2009Install.exe";
        if (GetFileAttributesW(program.c_str()) != INVALID_FILE_ATTRIBUTES) programs.push_back(program);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return programs;
}

TEST_F(UserTempTest, VietnameseUserNameInstallsEndToEnd) {
    // "Học Sinh": letters the ANSI code page lacks; "bād" is best-fitted to "bad" by it, a folder
    // another user could own: it is laid out, and must stay untouched.
    const std::wstring lookAlikeTemp = L"C:\\users\\bad\\Temp";
    CreateDirectoryW(L"C:\\users\\bad", nullptr);
    CreateDirectoryW(lookAlikeTemp.c_str(), nullptr);
    for (const std::wstring user : {L"H\u1ECDc Sinh", L"b\u0101d"}) {
        SCOPED_TRACE(std::string(user.begin(), user.end()));
        const std::wstring profile = L"C:\\users\\" + user;
        const std::wstring temp = profile + L"\\Temp";
        CreateDirectoryW(profile.c_str(), nullptr);
        CreateDirectoryW(temp.c_str(), nullptr);
        const size_t before = ExtractedPrograms(temp).size();
        SetUserTemp(temp);
        SetHklmDword(L"SOFTWARE\\QarvSetup", L"fAllowDebugPrint", 1);
        DeleteHklmTree(L"SOFTWARE\\Qarv");

        LauncherRun run;
        DWORD exitCode = 1;
        ASSERT_TRUE(run.WaitForExit(90000, &exitCode)) << "the launcher did not end";
        EXPECT_EQ(exitCode, 0u);
        // The debugger output carries the lines in the ANSI code page, so only their shape is
        // compared here; the folders themselves are read from the disk.
        const std::vector<std::wstring> lines = run.TraceLines();
        ASSERT_EQ(lines.size(), 7u);
        EXPECT_EQ(lines[2].compare(0, kExtracted.size(), kExtracted), 0) << "the extraction failed";
        EXPECT_EQ(ExtractedPrograms(temp).size(), before + 1) << "no work folder with the program under the user's TEMP";
        EXPECT_TRUE(ExtractedPrograms(lookAlikeTemp).empty()) << "something was extracted into the look-alike folder";
        EXPECT_TRUE(WaitUntil([] { return HklmValueExists(L"SOFTWARE\\Qarv", L"szQarvDir"); }, 30000))
            << "the demo installer did not install the product";
        ClearPendingFileRenames();
        DeleteHklmValue(kRunKey, kRestartValueName);
    }
}

}  // namespace
