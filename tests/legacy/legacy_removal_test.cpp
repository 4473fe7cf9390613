// The previous-generation removal against a whole 2006 generation laid out in the test prefix:
// what goes, what stays, the waits, the bounded updater message, and every way the folder can be
// not recorded. The names it builds are checked against their buffers first.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/platform_calls.h"
#include "legacy/previous_generation.h"
#include "tests/support/file_tree.h"
#include "tests/support/previous_generation_layout.h"
#include "tests/support/test_paths.h"
#include "tests/support/window_probe.h"

using namespace qarv;

namespace {

namespace t = qarv::test;

constexpr const wchar_t* kQarvKey = L"Software\\Qarv";
constexpr const wchar_t* kRunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kShellFoldersKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const wchar_t* kFolder = L"C:\\Program Files\\Velmora\\Qarv2006";

std::vector<DWORD> g_waits;
// The running programs of the laid-out generation, and any other the test expects to be ended.
std::vector<HANDLE> g_watched;

// Every watched program has ended, or answers a message and so is not being ended.
bool WatchedSettled() {
    for (HANDLE process : g_watched) {
        if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT && !t::AnswersMessages(process, 100)) return false;
    }
    return true;
}

// Records each wait and, within it, waits only until the programs ended before it are gone and
// their files free, instead of the full six seconds per removal.
void WINAPI RecordWait(DWORD milliseconds) {
    g_waits.push_back(milliseconds);
    t::WaitUntil(WatchedSettled, milliseconds);
}

bool Ended(const qarv::UniqueKernelHandle& process) { return WaitForSingleObject(process.get(), 5000) == WAIT_OBJECT_0; }
// Not ended by the calls before it (see AnswersMessages).
bool Running(const qarv::UniqueKernelHandle& process) { return t::AnswersMessages(process.get(), 10000); }

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow.push_back(c < 128 ? static_cast<char>(c) : '?');
    return narrow;
}

void ClearBuffers() {
    std::memset(PreviousGenerationFolder, 0, sizeof(PreviousGenerationFolder));
    std::memset(&ShellFolderPaths, 0, sizeof(ShellFolderPaths));
}

class PreviousGenerationRemovalTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearBuffers();
        g_waits.clear();
    }

    void TearDown() override {
        t::RemovePreviousGenerationLayout(m_generation);
        g_watched.clear();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kQarvKey);
        t::SetMachineString(kRunKey, L"QarvTestBystander", nullptr);
        ClearBuffers();
    }

    void LayOut(bool hungUpdater = false, const std::wstring& folder = kFolder) {
        t::PreviousGenerationOptions options;
        options.folder = folder;
        options.standInFolder = t::ProgramFolder();
        options.hungUpdater = hungUpdater;
        const std::wstring error = t::InstallPreviousGeneration(options, m_generation);
        ASSERT_TRUE(error.empty()) << Narrow(error);
        g_watched = {m_generation.mainProgram.get(), m_generation.updater.get()};
    }

    void ExpectAllFilesPresent() {
        for (const std::wstring& file : t::FilesToRemove(m_generation)) EXPECT_TRUE(t::PathExists(file)) << Narrow(file);
    }

    t::PreviousGeneration m_generation;

    // The waits are recorded, not slept; a test that needs the real wait sets the entry to null.
    qarv::PlatformCallsScope<PreviousGenerationPlatformCalls> m_platform{{RecordWait}};
};

TEST_F(PreviousGenerationRemovalTest, RemovesEveryTargetOfTheTableAndNothingElse) {
    LayOut();
    ASSERT_TRUE(t::SetMachineString(kRunKey, L"QarvTestBystander", L"C:\\other.exe"));

    RemovePreviousGeneration();

    EXPECT_TRUE(Ended(m_generation.mainProgram));
    EXPECT_TRUE(Ended(m_generation.updater));
    for (const std::wstring& file : t::FilesToRemove(m_generation)) EXPECT_FALSE(t::PathExists(file)) << Narrow(file);
    EXPECT_STREQ(ShellFolderPaths.DesktopPath, "C:\\Qarv test desktop\\Qarv2006.exe");
    EXPECT_FALSE(t::PathExists(m_generation.programsFolder + L"\\Velmora Antivirus"));
    for (const std::wstring& key : t::KeysToRemove()) EXPECT_FALSE(t::MachineKeyExists(key)) << Narrow(key);
    EXPECT_FALSE(t::MachineValueExists(kRunKey, L"QarvFw"));
    EXPECT_FALSE(t::MachineValueExists(kRunKey, L"QLuPro"));
    // regsvr32 runs on its own; its unregistration lands a moment later.
    const DWORD start = GetTickCount();
    while (t::ShellExtensionRegistered() && GetTickCount() - start < 20000) Sleep(100);
    EXPECT_FALSE(t::ShellExtensionRegistered()) << "regsvr32 did not unregister ShellMenu.dll";

    // Not the removal's to take: the extension's file, the folders, the desktop shortcut, other
    // Run values.
    EXPECT_TRUE(t::PathExists(m_generation.folder + L"\\ShellMenu.dll"));
    EXPECT_TRUE(t::PathExists(m_generation.folder));
    EXPECT_TRUE(t::PathExists(m_generation.desktopFolder + L"\\Qarv2006.lnk"));
    EXPECT_TRUE(t::PathExists(m_generation.updaterPath.substr(0, m_generation.updaterPath.rfind(L'\\'))));
    EXPECT_TRUE(t::MachineValueExists(kRunKey, L"QarvTestBystander"));

    // The main program ended by its file, so no window was left to end: no extra second.
    EXPECT_EQ(g_waits, (std::vector<DWORD>{2000, 2000, 2000}));
}

TEST_F(PreviousGenerationRemovalTest, KeepsWhatStillHoldsOtherThingsAndEndsTheWindowsProcess) {
    LayOut();
    // A key with a subkey, a group folder with another file, and a main window whose program runs
    // from elsewhere, so that only its window finds it.
    ASSERT_TRUE(t::SetMachineString(std::wstring(kQarvKey) + L"\\Settings", L"Kept", L"1"));
    const std::wstring otherFile = m_generation.programsFolder + L"\\Velmora Antivirus\\Readme.txt";
    ASSERT_TRUE(CopyFileW((m_generation.folder + L"\\QARV.LOG").c_str(), otherFile.c_str(), FALSE));
    const std::wstring elsewhere = m_generation.folder + L"\\QARV.TMP.exe";
    ASSERT_TRUE(CopyFileW((t::ProgramFolder() + L"\\Qarv2006.exe").c_str(), elsewhere.c_str(), FALSE));
    qarv::UniqueKernelHandle windowOwner = t::StartProgram(elsewhere, L"Qarv2006 Monitor");
    ASSERT_NE(t::WaitForWindow(L"Qarv2006", L"Qarv2006 Monitor", 10000), nullptr);
    g_watched.push_back(windowOwner.get());

    RemovePreviousGeneration();

    EXPECT_TRUE(Ended(windowOwner));
    EXPECT_EQ(g_waits, (std::vector<DWORD>{2000, 1000, 2000, 2000}));
    EXPECT_TRUE(t::MachineValueExists(kQarvKey, L"szQarv2006Dir"));
    EXPECT_TRUE(t::PathExists(otherFile));
    EXPECT_FALSE(t::PathExists(m_generation.programsFolder + L"\\Velmora Antivirus\\Qarv2006.lnk"));
    // Their Enum subkeys went first, so the service keys went too.
    EXPECT_FALSE(t::MachineKeyExists(L"System\\CurrentControlSet\\Services\\QarvAuto"));
    EXPECT_FALSE(t::MachineKeyExists(L"System\\CurrentControlSet\\Services\\SysCore"));

    DeleteFileW(otherFile.c_str());
    DeleteFileW(elsewhere.c_str());
}

TEST_F(PreviousGenerationRemovalTest, NothingRecordedMeansNothingRemovedAndNoWait) {
    LayOut();
    struct Case {
        const char* name;
        void (*arrange)();
    };
    const Case cases[] = {
        {"no key", [] { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kQarvKey); }},
        {"no value", [] { t::SetMachineString(kQarvKey, L"szQarv2006Dir", nullptr); }},
        {"REG_EXPAND_SZ", [] { t::SetMachineString(kQarvKey, L"szQarv2006Dir", kFolder, REG_EXPAND_SZ); }},
        {"REG_MULTI_SZ", [] { t::SetMachineString(kQarvKey, L"szQarv2006Dir", kFolder, REG_MULTI_SZ); }},
        {"empty", [] { t::SetMachineString(kQarvKey, L"szQarv2006Dir", L""); }},
        {"relative", [] { t::SetMachineString(kQarvKey, L"szQarv2006Dir", L"Program Files\\Velmora\\Qarv2006"); }},
        {"root of the current drive", [] { t::SetMachineString(kQarvKey, L"szQarv2006Dir", L"\\Program Files\\Velmora\\Qarv2006"); }},
        {"over 1,024 bytes",
         [] { t::SetMachineString(kQarvKey, L"szQarv2006Dir", (std::wstring(kFolder) + std::wstring(1100, L'x')).c_str()); }},
        // Outside the ANSI code page: the ANSI reading best-fits these to the laid-out folder.
        {"a look-alike (a with macron)", [] { t::SetMachineString(kQarvKey, L"szQarv2006Dir", L"C:\\Progr\u0101m Files\\Velmora\\Qarv2006"); }},
        {"a look-alike (full-width a)", [] { t::SetMachineString(kQarvKey, L"szQarv2006Dir", L"C:\\Program Files\\Velmora\\Q\uFF41rv2006"); }},
    };
    // From C:\ the relative records would name the laid-out folder.
    wchar_t savedDirectory[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, savedDirectory);
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\"));
    qarv::ScopeExit restoreDirectory([&] { SetCurrentDirectoryW(savedDirectory); });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        g_waits.clear();
        m_platform.calls().sleep = nullptr;
        const DWORD start = GetTickCount();
        RemovePreviousGeneration();
        EXPECT_LT(GetTickCount() - start, 1000u);
        m_platform.calls().sleep = RecordWait;
        RemovePreviousGeneration();
        EXPECT_TRUE(g_waits.empty());

        EXPECT_TRUE(Running(m_generation.mainProgram));
        EXPECT_TRUE(Running(m_generation.updater));
        ExpectAllFilesPresent();
        for (size_t i = 1; i < t::KeysToRemove().size(); ++i) EXPECT_TRUE(t::MachineKeyExists(t::KeysToRemove()[i]));
        EXPECT_TRUE(t::MachineValueExists(kRunKey, L"QarvFw"));
        EXPECT_TRUE(t::MachineValueExists(kRunKey, L"QLuPro"));
        EXPECT_TRUE(t::ShellExtensionRegistered());
        // The key is read through the create call: it exists afterwards, even if it did not before.
        EXPECT_TRUE(t::MachineKeyExists(kQarvKey));
    }
}

TEST_F(PreviousGenerationRemovalTest, HungUpdaterHoldsTheRemovalOnlyForTheBound) {
    LayOut(/*hungUpdater=*/true);
    m_platform.calls().sleep = nullptr;
    const DWORD start = GetTickCount();
    EXPECT_NE(RemoveUpdater(), 0);
    const DWORD elapsed = GetTickCount() - start;
    // The bound, the two waits, and room for a slow machine.
    EXPECT_LT(elapsed, kUpdaterMessageTimeoutMs + 4000 + 4000);
    EXPECT_TRUE(Ended(m_generation.updater));
    EXPECT_FALSE(t::PathExists(m_generation.updaterPath));
    EXPECT_FALSE(t::MachineValueExists(kRunKey, L"QLuPro"));
    EXPECT_TRUE(Running(m_generation.mainProgram));
}

// With the shell folders unknown, the names built from them would be bare suffixes: entries at
// the root of the current drive. Those must stay.
TEST_F(PreviousGenerationRemovalTest, UnreadableShellFoldersRemoveNothingAtTheDriveRoot) {
    LayOut();
    HKEY shellFolders = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kShellFoldersKey, 0, KEY_SET_VALUE, &shellFolders), ERROR_SUCCESS);
    RegDeleteValueW(shellFolders, L"Desktop");
    RegDeleteValueW(shellFolders, L"Start Menu");
    RegDeleteValueW(shellFolders, L"Programs");
    qarv::ScopeExit restore([&] {
        for (auto [name, folder] : {std::pair{L"Start Menu", m_generation.startMenuFolder},
                                    std::pair{L"Programs", m_generation.programsFolder}}) {
            RegSetValueExW(shellFolders, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                           static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
        }
        RegCloseKey(shellFolders);
    });

    wchar_t savedDirectory[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, savedDirectory);
    ASSERT_TRUE(SetCurrentDirectoryW(m_generation.folder.c_str()));
    const std::wstring root = m_generation.folder.substr(0, 3);
    const std::vector<std::wstring> rootEntries = {root + L"Qarv2006.exe", root + L"Qarv2006.lnk",
                                                   root + L"Velmora Antivirus\\Qarv2006.lnk",
                                                   root + L"Velmora Antivirus\\UnInstall Qarv2006.lnk"};
    CreateDirectoryW((root + L"Velmora Antivirus").c_str(), nullptr);
    for (const std::wstring& entry : rootEntries) {
        ASSERT_TRUE(CopyFileW((m_generation.folder + L"\\QARV.LOG").c_str(), entry.c_str(), FALSE));
    }
    qarv::ScopeExit removeRootEntries([&] {
        SetCurrentDirectoryW(savedDirectory);
        for (const std::wstring& entry : rootEntries) DeleteFileW(entry.c_str());
        RemoveDirectoryW((root + L"Velmora Antivirus").c_str());
    });

    RemovePreviousGeneration();

    for (const std::wstring& entry : rootEntries) EXPECT_TRUE(t::PathExists(entry)) << Narrow(entry);
    EXPECT_EQ(ShellFolderPaths.DesktopPath[0], '\0');
    // Everything else of the table still went.
    EXPECT_FALSE(t::PathExists(m_generation.folder + L"\\Qarv2006.exe"));
    EXPECT_FALSE(t::MachineKeyExists(kQarvKey));
    EXPECT_FALSE(t::PathExists(m_generation.updaterPath));
}

// The setup usually starts from the downloads folder, where anything may lie beside it, so the
// unregistration names the system's regsvr32 by its full path. (Wine's own search finds the
// system's copy first either way, so the call itself is what the test can see.)
struct ShellExecuteCall {
    std::string verb, file, parameters;
    bool directoryGiven = true;
    int show = -1;
};
std::vector<ShellExecuteCall> g_shellExecutes;

HINSTANCE WINAPI RecordShellExecute(HWND, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT show) {
    g_shellExecutes.push_back({verb ? verb : "", file ? file : "", parameters ? parameters : "", directory != nullptr, show});
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
}

TEST(PreviousGenerationUnregistration, StartsTheSystemsRegsvr32ByItsFullPath) {
    qarv::ScopeExit cleanup([] {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kQarvKey);
        ClearBuffers();
    });
    ASSERT_TRUE(t::SetMachineString(kQarvKey, L"szQarv2006Dir", L"C:\\Old Qarv"));
    qarv::PlatformCallsScope<PreviousGenerationPlatformCalls> platform({[](DWORD) {}, RecordShellExecute});
    g_shellExecutes.clear();

    RemovePreviousGeneration();

    char systemDirectory[MAX_PATH] = {};
    ASSERT_NE(GetSystemDirectoryA(systemDirectory, MAX_PATH), 0u);
    ASSERT_EQ(g_shellExecutes.size(), 1u);
    EXPECT_EQ(g_shellExecutes[0].verb, "open");
    EXPECT_EQ(g_shellExecutes[0].file, std::string(systemDirectory) + "\\regsvr32.exe");
    EXPECT_EQ(g_shellExecutes[0].parameters, "-s -u \"C:\\Old Qarv\\ShellMenu.dll\"");
    EXPECT_FALSE(g_shellExecutes[0].directoryGiven);
    EXPECT_EQ(g_shellExecutes[0].show, SW_SHOW);
}

// A quote in the recorded folder would close regsvr32's quoted argument early; the rest of the
// text would reach it as further arguments, here with the real extension's path as the first.
TEST_F(PreviousGenerationRemovalTest, QuoteInTheFolderStartsNoUnregistration) {
    LayOut();
    const std::wstring smuggled = m_generation.folder + L"\\ShellMenu.dll\" \"C:\\nowhere";
    ASSERT_TRUE(t::SetMachineString(kQarvKey, L"szQarv2006Dir", smuggled.c_str()));
    // The start itself is recorded, so no regsvr32 is started that the test would have to wait out.
    m_platform.calls().shellExecuteA = RecordShellExecute;
    g_shellExecutes.clear();

    RemovePreviousGeneration();

    EXPECT_TRUE(g_shellExecutes.empty()) << "regsvr32 was started with " << g_shellExecutes[0].parameters;
    EXPECT_TRUE(t::ShellExtensionRegistered());
    // The rest of the removal ran.
    EXPECT_FALSE(t::MachineKeyExists(kQarvKey));
    EXPECT_FALSE(t::PathExists(m_generation.updaterPath));
}

TEST(PreviousGenerationNames, NeverWritePastTheirBuffer) {
    struct Guarded {
        char buffer[kPreviousGenerationPathCapacity];
        char guard[16];
    };
    const std::string suffix = "\\Qarv2006.exe";
    const size_t room = kPreviousGenerationPathCapacity - 1 - suffix.size();  // folder length that just fits

    Guarded g;
    std::memset(&g, 'G', sizeof(g));
    EXPECT_TRUE(ComposeName(g.buffer, sizeof(g.buffer), std::string(room, 'f').c_str(), suffix.c_str()));
    EXPECT_EQ(std::strlen(g.buffer), kPreviousGenerationPathCapacity - 1);
    EXPECT_FALSE(ComposeName(g.buffer, sizeof(g.buffer), std::string(room + 1, 'f').c_str(), suffix.c_str()));
    EXPECT_EQ(g.buffer[0], '\0');
    EXPECT_FALSE(ComposeName(g.buffer, sizeof(g.buffer), std::string(5000, 'f').c_str(), suffix.c_str()));
    EXPECT_FALSE(ComposeName(g.buffer, sizeof(g.buffer), "", suffix.c_str()));
    EXPECT_EQ(std::string(g.guard, sizeof(g.guard)), std::string(sizeof(g.guard), 'G'));

    std::memset(&g, 'G', sizeof(g));
    std::memset(g.buffer, 0, sizeof(g.buffer));
    EXPECT_FALSE(AppendName(g.buffer, sizeof(g.buffer), suffix.c_str()));  // never read: stays empty
    EXPECT_EQ(g.buffer[0], '\0');
    std::memset(g.buffer, 'd', room);
    EXPECT_TRUE(AppendName(g.buffer, sizeof(g.buffer), suffix.c_str()));
    EXPECT_EQ(std::string(g.buffer).substr(room), suffix);
    std::memset(g.buffer, 'd', room + 1);
    g.buffer[room + 1] = '\0';
    EXPECT_FALSE(AppendName(g.buffer, sizeof(g.buffer), suffix.c_str()));
    EXPECT_EQ(std::strlen(g.buffer), room + 1);
    std::memset(g.buffer, 'd', sizeof(g.buffer));  // no terminator at all
    EXPECT_FALSE(AppendName(g.buffer, sizeof(g.buffer), suffix.c_str()));
    EXPECT_EQ(std::string(g.guard, sizeof(g.guard)), std::string(sizeof(g.guard), 'G'));
}

TEST(PreviousGenerationNames, OnlyFullyQualifiedFoldersCount) {
    for (const char* folder : {"C:\\Program Files\\Qarv2006", "d:\\", "\\\\server\\share\\Qarv2006"}) {
        EXPECT_TRUE(IsFullyQualifiedFolder(folder)) << folder;
    }
    for (const char* folder : {"", "C:", "C:Qarv2006", "\\Program Files", "Program Files\\Qarv2006", "1:\\Qarv", ".\\Qarv"}) {
        EXPECT_FALSE(IsFullyQualifiedFolder(folder)) << folder;
    }
}

TEST(PreviousGenerationFolderValue, IsReadWholeOrNotAtAll) {
    qarv::ScopeExit cleanup([] {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kQarvKey);
        ClearBuffers();
    });
    const std::string longest = "C:\\" + std::string(kPreviousGenerationPathCapacity - 4, 'a');
    ASSERT_TRUE(t::SetMachineString(kQarvKey, L"szQarv2006Dir", std::wstring(longest.begin(), longest.end()).c_str()));
    EXPECT_EQ(ReadPreviousGenerationFolder(kPreviousGenerationPathCapacity), static_cast<int>(longest.size()));
    EXPECT_EQ(std::string(PreviousGenerationFolder), longest);

    // A shorter value after a longer one: nothing of the old text remains.
    ASSERT_TRUE(t::SetMachineString(kQarvKey, L"szQarv2006Dir", L"C:\\Q"));
    EXPECT_EQ(ReadPreviousGenerationFolder(kPreviousGenerationPathCapacity), 4);
    EXPECT_STREQ(PreviousGenerationFolder, "C:\\Q");

    // One character more, and a value that fills all 1,024 bytes with no terminator: not recorded,
    // and the buffer still ends inside itself.
    const std::wstring tooLong(kPreviousGenerationPathCapacity, L'a');
    ASSERT_TRUE(t::SetMachineString(kQarvKey, L"szQarv2006Dir", tooLong.c_str()));
    EXPECT_EQ(ReadPreviousGenerationFolder(kPreviousGenerationPathCapacity), 0);
    EXPECT_EQ(PreviousGenerationFolder[kPreviousGenerationPathCapacity - 1], '\0');
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Qarv", 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    const std::string unterminated(kPreviousGenerationPathCapacity, 'b');
    EXPECT_EQ(RegSetValueExA(key, "szQarv2006Dir", 0, REG_SZ, reinterpret_cast<const BYTE*>(unterminated.data()),
                             static_cast<DWORD>(unterminated.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(ReadPreviousGenerationFolder(kPreviousGenerationPathCapacity), 0);
    EXPECT_EQ(PreviousGenerationFolder[kPreviousGenerationPathCapacity - 1], '\0');

    // A folder of 1,023 characters: every name built from it is too long and skipped, while the
    // steps that need no name still run.
    ASSERT_TRUE(t::SetMachineString(kQarvKey, L"szQarv2006Dir", std::wstring(longest.begin(), longest.end()).c_str()));
    g_waits.clear();
    {
        qarv::PlatformCallsScope<PreviousGenerationPlatformCalls> recordedWaits({RecordWait});
        RemovePreviousGeneration();
    }
    EXPECT_EQ(g_waits, (std::vector<DWORD>{2000, 2000, 2000}));
    EXPECT_FALSE(t::MachineKeyExists(kQarvKey));
}

TEST(PreviousGenerationNames, ForwardSlashesMakeAFullPathToo) {
    for (const char* folder : {"C:/Program Files/Qarv2006", "c:/", "//server/share/Qarv2006", "\\/server\\share"}) {
        EXPECT_TRUE(IsFullyQualifiedFolder(folder)) << folder;
    }
    for (const char* folder : {"C:Qarv2006/x", "/Program Files", "Program Files/Qarv2006", "./Qarv"}) {
        EXPECT_FALSE(IsFullyQualifiedFolder(folder)) << folder;
    }
}

TEST_F(PreviousGenerationRemovalTest, FolderRecordedWithForwardSlashesIsRemoved) {
    LayOut();
    std::wstring slashed = kFolder;
    for (wchar_t& c : slashed) {
        if (c == L'\\') c = L'/';
    }
    ASSERT_TRUE(t::SetMachineString(kQarvKey, L"szQarv2006Dir", slashed.c_str()));
    RemovePreviousGeneration();
    EXPECT_TRUE(Ended(m_generation.mainProgram)) << "the main program is known by its path with backslashes";
    EXPECT_FALSE(t::PathExists(m_generation.folder + L"\\Qarv2006.exe"));
    EXPECT_FALSE(t::PathExists(m_generation.folder + L"\\QARV.LOG"));
    EXPECT_FALSE(t::MachineKeyExists(kQarvKey));
}

// A "Shell Folders" value is used only as a full path that its ANSI reading names exactly.
TEST(PreviousGenerationShellFolders, InexactOrRelativeValuesAreNotUsed) {
    HKEY shellFolders = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kShellFoldersKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &shellFolders),
              ERROR_SUCCESS);
    std::vector<std::pair<std::wstring, std::wstring>> saved;
    for (const wchar_t* name : {L"Desktop", L"Start Menu", L"Programs"}) {
        wchar_t value[1024] = {};
        DWORD size = sizeof(value) - sizeof(wchar_t);
        if (RegQueryValueExW(shellFolders, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS) {
            saved.emplace_back(name, value);
        }
    }
    qarv::ScopeExit restore([&] {
        for (const auto& [name, value] : saved) {
            RegSetValueExW(shellFolders, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        }
        RegCloseKey(shellFolders);
        ClearBuffers();
    });
    auto set = [&](const wchar_t* name, const std::wstring& value) {
        RegSetValueExW(shellFolders, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    };
    set(L"Desktop", L"C:\\users\\H\u1ECDc Sinh\\Desktop");  // "?" in the ANSI reading
    set(L"Start Menu", L"C:\\users\\b\u0101d\\Start Menu");  // best fit: "bad"
    set(L"Programs", L"Start Menu\\Programs");                   // relative
    ClearBuffers();
    ASSERT_EQ(ReadShellFolderPaths(), 1);
    EXPECT_STREQ(ShellFolderPaths.DesktopPath, "");
    EXPECT_STREQ(ShellFolderPaths.StartMenuPath, "");
    EXPECT_STREQ(ShellFolderPaths.ProgramsPath, "");

    // The same folders in letters the code page has, and forward slashes: read as they are.
    set(L"Desktop", L"C:\\users\\Hoc Sinh\\Desktop");
    set(L"Start Menu", L"C:/users/bad/Start Menu");
    set(L"Programs", L"\\\\server\\profiles\\Programs");
    ASSERT_EQ(ReadShellFolderPaths(), 1);
    EXPECT_STREQ(ShellFolderPaths.DesktopPath, "C:\\users\\Hoc Sinh\\Desktop");
    EXPECT_STREQ(ShellFolderPaths.StartMenuPath, "C:/users/bad/Start Menu");
    EXPECT_STREQ(ShellFolderPaths.ProgramsPath, "\\\\server\\profiles\\Programs");
}

}  // namespace
