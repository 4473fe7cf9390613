// Work-folder selection: the free-space routes at their exact byte boundaries (through the
// free-space, drive-type and tick-count table), the real temporary-folder route under Wine, and the
// rights of the created folder.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>
#include <map>
#include <string>

#include "common/platform_calls.h"
#include "common/unique_handle.h"
#include "setup/work_folder.h"
#include "tests/support/file_tree.h"
#include "tests/support/installed_temp_folder.h"

using namespace qarv;

namespace {

constexpr ULONGLONG kFourGiB = 0x100000000ull;

TEST(WorkFolderRoute, WindowsDriveThresholds) {
    struct Case {
        ULONGLONG freeBytes;
        WorkFolderRoute route;
    };
    const Case cases[] = {
        {0, WorkFolderRoute::Refused},
        {536870911, WorkFolderRoute::Refused},
        {536870912, WorkFolderRoute::SpareDrive},
        {1073741824, WorkFolderRoute::SpareDrive},
        {1073741825, WorkFolderRoute::TemporaryFolder},
        // 4 GiB and more beats every threshold, whatever the low part holds.
        {kFourGiB + 5, WorkFolderRoute::TemporaryFolder},
        {kFourGiB + 536870912, WorkFolderRoute::TemporaryFolder},
    };
    for (const Case& c : cases) EXPECT_EQ(WindowsDriveRoute(c.freeBytes), c.route) << c.freeBytes;
}

TEST(WorkFolderRoute, SpareDriveNeedsMoreThan300MiB) {
    EXPECT_FALSE(SpareDriveHasRoom(314572800));
    EXPECT_TRUE(SpareDriveHasRoom(314572801));
    EXPECT_TRUE(SpareDriveHasRoom(kFourGiB));
    EXPECT_TRUE(SpareDriveHasRoom(kFourGiB + 1));
}

// Drives as a test arranges them: type and free bytes per root ("C:"); a missing free-space entry
// makes the query fail.
struct FakeDisks {
    std::map<std::wstring, UINT> types;
    std::map<std::wstring, ULONGLONG> freeBytes;
    // File-system flags per root; a drive not named keeps access lists (an NTFS disk).
    std::map<std::wstring, DWORD> fileSystemFlags;
    DWORD tick = 0;
};
FakeDisks g_disks;

constexpr DWORD kNtfsFlags = FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK |
                             FILE_PERSISTENT_ACLS | FILE_SUPPORTS_REPARSE_POINTS;
constexpr DWORD kFatFlags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;  // FAT32 and exFAT
constexpr DWORD kUnreadableFlags = 0xFFFFFFFF;

std::wstring UpperRoot(LPCWSTR root) {
    std::wstring text(root);
    for (wchar_t& c : text) c = static_cast<wchar_t>(towupper(c));
    return text;
}

BOOL WINAPI FakeFreeSpace(LPCWSTR root, PULARGE_INTEGER available, PULARGE_INTEGER, PULARGE_INTEGER) {
    const auto found = g_disks.freeBytes.find(UpperRoot(root));
    if (found == g_disks.freeBytes.end()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    available->QuadPart = found->second;
    return TRUE;
}

UINT WINAPI FakeDriveType(LPCWSTR root) {
    const auto found = g_disks.types.find(UpperRoot(root));
    return found == g_disks.types.end() ? DRIVE_NO_ROOT_DIR : found->second;
}

DWORD WINAPI FakeTickCount() { return g_disks.tick; }

BOOL WINAPI FakeVolumeInformation(LPCWSTR root, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD flags, LPWSTR, DWORD) {
    // Asked with the root's backslash, as the call requires.
    std::wstring drive = UpperRoot(root);
    if (drive.size() != 3 || drive[2] != L'\\') {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    drive.pop_back();
    const auto found = g_disks.fileSystemFlags.find(drive);
    const DWORD value = found == g_disks.fileSystemFlags.end() ? kNtfsFlags : found->second;
    if (value == kUnreadableFlags) {
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    *flags = value;
    return TRUE;
}

std::wstring WindowsRoot() {
    wchar_t directory[MAX_PATH] = {};
    GetWindowsDirectoryW(directory, MAX_PATH);
    return UpperRoot(std::wstring(directory, 2).c_str());
}

std::wstring TodayStamp() {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    wchar_t text[16] = {};
    swprintf(text, std::size(text), L"%04d%02d%02d", now.wYear, now.wMonth, now.wDay);
    return text;
}

class WorkFolderWithFakeDisks : public ::testing::Test {
protected:
    void SetUp() override {
        g_disks = FakeDisks{};
        g_disks.types[WindowsRoot()] = DRIVE_FIXED;
        g_disks.tick = 12345678;
    }

    void WindowsDriveFree(ULONGLONG bytes) { g_disks.freeBytes[WindowsRoot()] = bytes; }
    void Drive(const wchar_t* root, UINT type, ULONGLONG bytes) {
        g_disks.types[root] = type;
        g_disks.freeBytes[root] = bytes;
    }

    qarv::PlatformCallsScope<WorkFolderPlatformCalls> m_fakeDisks{
        {FakeFreeSpace, FakeDriveType, FakeTickCount, FakeVolumeInformation, nullptr}};
};

TEST_F(WorkFolderWithFakeDisks, RefusalsAndFailuresLeaveNoName) {
    Drive(L"D:", DRIVE_FIXED, 314572800);  // exactly 300 MiB: not enough
    Drive(L"E:", DRIVE_REMOVABLE, kFourGiB);
    Drive(L"F:", DRIVE_REMOTE, kFourGiB);
    Drive(L"G:", DRIVE_CDROM, kFourGiB);
    Drive(L"H:", DRIVE_RAMDISK, kFourGiB);
    g_disks.types[L"I:"] = DRIVE_FIXED;  // its free-space query fails
    std::wstring folder = L"left over";
    EXPECT_EQ(ChooseWorkFolder(folder), kWorkFolderSystemCallFailed);  // Windows drive not measurable
    EXPECT_TRUE(folder.empty());
    for (ULONGLONG bytes : {536870912ull, 1073741824ull}) {
        WindowsDriveFree(bytes);
        folder = L"left over";
        EXPECT_EQ(ChooseWorkFolder(folder), kWorkFolderNoSpareDrive) << bytes;
        EXPECT_TRUE(folder.empty());
    }
    Drive(L"J:", DRIVE_FIXED, kFourGiB);
    WindowsDriveFree(536870911);
    folder = L"left over";
    EXPECT_EQ(ChooseWorkFolder(folder), kWorkFolderWindowsDriveFull);
    EXPECT_TRUE(folder.empty());
}

TEST_F(WorkFolderWithFakeDisks, TightWindowsDriveTakesFirstQualifyingDriveInLetterOrder) {
    WindowsDriveFree(1073741824);
    Drive(L"D:", DRIVE_FIXED, 314572800);
    Drive(L"E:", DRIVE_FIXED, 314572801);
    Drive(L"F:", DRIVE_FIXED, kFourGiB * 100);  // more room, but later in the alphabet
    std::wstring folder;
    ASSERT_EQ(ChooseWorkFolder(folder), kWorkFolderChosen);
    EXPECT_EQ(folder, L"E:\\_IS" + TodayStamp() + L"12345678");

    // The Windows drive is skipped whatever the case of its letter; 4 GiB free always qualifies.
    Drive(L"C:", DRIVE_FIXED, kFourGiB);
    Drive(L"D:", DRIVE_FIXED, kFourGiB);
    EXPECT_EQ(FindSpareFixedDrive(L"c:"), L"D:");
    EXPECT_EQ(FindSpareFixedDrive(L"D:"), L"C:");
}

TEST_F(WorkFolderWithFakeDisks, SpareDriveWhoseFileSystemKeepsNoAccessListsIsPassedOver) {
    // On FAT or exFAT every local user may write into the folder, whatever the launcher asks.
    WindowsDriveFree(1073741824);
    Drive(L"D:", DRIVE_FIXED, kFourGiB);
    g_disks.fileSystemFlags[L"D:"] = kFatFlags;
    Drive(L"E:", DRIVE_FIXED, kFourGiB);
    g_disks.fileSystemFlags[L"E:"] = kUnreadableFlags;
    std::wstring folder;
    EXPECT_EQ(ChooseWorkFolder(folder), kWorkFolderNoSpareDrive);
    EXPECT_TRUE(folder.empty());

    Drive(L"F:", DRIVE_FIXED, kFourGiB);
    ASSERT_EQ(ChooseWorkFolder(folder), kWorkFolderChosen);
    EXPECT_EQ(folder.substr(0, 3), L"F:\\");
}

TEST_F(WorkFolderWithFakeDisks, TickCountPast2To31PrintsWithAMinusSign) {
    g_disks.tick = 0x80000000u;
    EXPECT_EQ(MakeDatedFolderName(L"D:"), L"D:\\_IS" + TodayStamp() + L"-2147483648");
    g_disks.tick = 0xFFFFFFFFu;
    EXPECT_EQ(MakeDatedFolderName(L"D:"), L"D:\\_IS" + TodayStamp() + L"-1");
}

TEST_F(WorkFolderWithFakeDisks, FailingTemporaryFolderCallsGiveNoName) {
    WindowsDriveFree(1073741825);
    for (const std::wstring& temporary : {std::wstring(L"C:\\no such folder"), L"C:\\" + std::wstring(1100, L'x')}) {
        qarv::test::TemporaryFolderOverride unusable(temporary);
        std::wstring folder = L"left over";
        EXPECT_EQ(ChooseWorkFolder(folder), kWorkFolderSystemCallFailed);
        EXPECT_TRUE(folder.empty());
    }
}

TEST_F(WorkFolderWithFakeDisks, TemporaryFolderWhereOthersMayWriteGivesWayToTheWindowsTemp) {
    WindowsDriveFree(kFourGiB);
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    wchar_t temporary[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temporary);
    const std::wstring root = UpperRoot(std::wstring(temporary, 3).c_str());
    struct Case {
        const char* name;
        DWORD flags;
        UINT type;
    };
    // The temporary folder on FAT or exFAT, on a network drive, or on a volume that cannot be read.
    for (const Case& c : {Case{"no access lists", kFatFlags, DRIVE_FIXED}, Case{"remote", kNtfsFlags, DRIVE_REMOTE},
                          Case{"unreadable", kUnreadableFlags, DRIVE_FIXED}}) {
        SCOPED_TRACE(c.name);
        g_disks.fileSystemFlags[root.substr(0, 2)] = c.flags;
        g_disks.types[root] = c.type;
        std::wstring folder;
        ASSERT_EQ(ChooseWorkFolder(folder), kWorkFolderChosen);
        const std::wstring expected = std::wstring(windows) + L"\\Temp\\_IS";
        EXPECT_EQ(CompareStringOrdinal(folder.c_str(), static_cast<int>(expected.size()), expected.c_str(),
                                       static_cast<int>(expected.size()), TRUE), CSTR_EQUAL) << folder.c_str();
        DeleteFileW(folder.c_str());
    }
    // A private volume keeps the user's own temporary folder.
    g_disks.fileSystemFlags[root.substr(0, 2)] = kNtfsFlags;
    g_disks.types[root] = DRIVE_FIXED;
    std::wstring folder;
    ASSERT_EQ(ChooseWorkFolder(folder), kWorkFolderChosen);
    wchar_t longTemporary[MAX_PATH] = {};
    GetLongPathNameW(temporary, longTemporary, MAX_PATH);
    EXPECT_EQ(folder.compare(0, std::wcslen(longTemporary), longTemporary), 0) << folder.c_str();
    DeleteFileW(folder.c_str());
}

// The real calls under Wine: C: has far more than 1 GiB here, so the temporary folder is used.
TEST(WorkFolderReal, TemporaryRouteNamesAnEmptyPlaceholderInTheTemporaryFolder) {
    std::wstring folder;
    ASSERT_EQ(ChooseWorkFolder(folder), kWorkFolderChosen);
    ASSERT_FALSE(folder.empty());

    wchar_t temporaryPath[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temporaryPath);
    wchar_t longTemporaryPath[MAX_PATH] = {};
    GetLongPathNameW(temporaryPath, longTemporaryPath, MAX_PATH);
    const std::wstring expectedPrefix = std::wstring(longTemporaryPath) + L"_IS";
    EXPECT_EQ(folder.compare(0, expectedPrefix.size(), expectedPrefix), 0) << folder.c_str();

    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExW(folder.c_str(), GetFileExInfoStandard, &data));
    EXPECT_FALSE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(data.nFileSizeLow, 0u);
    DeleteFileW(folder.c_str());
}

std::wstring SidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return L"?";
    std::wstring result(text);
    LocalFree(text);
    return result;
}

// "P" when protected, then "<sid> <mask> <flags>" per allow entry.
std::vector<std::wstring> DescribeDacl(PSECURITY_DESCRIPTOR descriptor) {
    std::vector<std::wstring> entries;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    if (control & SE_DACL_PROTECTED) entries.push_back(L"P");
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
        wchar_t text[64] = {};
        swprintf(text, std::size(text), L" %lX %X", ace->Mask, ace->Header.AceFlags);
        entries.push_back(SidText(&ace->SidStart) + text);
    }
    return entries;
}

TEST(WorkFolderCreation, RightsAreProtectedFullControlForAdministratorsAndSystemReadAndRunForTheUser) {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    BYTE user[512] = {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, user, sizeof(user), &size);
    CloseHandle(token);
    const std::wstring userSid = SidText(reinterpret_cast<TOKEN_USER*>(user)->User.Sid);

    const WorkFolderSecurity descriptor = MakeWorkFolderSecurity();
    ASSERT_TRUE(descriptor);
    // FILE_ALL_ACCESS for Administrators and SYSTEM; FILE_GENERIC_READ | FILE_GENERIC_EXECUTE for
    // the user and for the owner (OWNER RIGHTS); all inherited by files and folders inside.
    EXPECT_EQ(DescribeDacl(descriptor.get()),
              (std::vector<std::wstring>{L"P", L"S-1-5-32-544 1F01FF 3", L"S-1-5-18 1F01FF 3", userSid + L" 1200A9 3",
                                         L"S-1-3-4 1200A9 3"}));
}

// What `token` may do to a folder with the work folder's access list, owned by Administrators
// as a folder an elevated process creates is, by the system's own access check.
ACCESS_MASK GrantedUnderWorkFolderRights(HANDLE token) {
    const WorkFolderSecurity descriptor = MakeWorkFolderSecurity();
    if (!descriptor) return 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !present) return 0;
    BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
    DWORD sidSize = sizeof(administrators);
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize);
    // The check wants an owner and a group, which the folder gets from its creator.
    SECURITY_DESCRIPTOR checked{};
    InitializeSecurityDescriptor(&checked, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&checked, TRUE, dacl, FALSE);
    SetSecurityDescriptorOwner(&checked, administrators, FALSE);
    SetSecurityDescriptorGroup(&checked, administrators, FALSE);
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof(privileges);
    DWORD granted = 0;
    BOOL allowed = FALSE;
    if (!AccessCheck(&checked, token, MAXIMUM_ALLOWED, &mapping, &privileges, &privilegesSize, &granted, &allowed)) {
        return 0;
    }
    return allowed ? granted : 0;
}

TEST(WorkFolderCreation, TheUserMayReadAndRunButNeverWriteAdministratorsMayAll) {
    HANDLE process = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process));
    qarv::UniqueKernelHandle processToken(process);
    // This process runs as an administrator; the same user without the group is the user's own
    // unelevated programs.
    BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
    DWORD sidSize = sizeof(administrators);
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize));
    SID_AND_ATTRIBUTES disabled = {administrators, 0};
    qarv::UniqueKernelHandle userOnly;
    ASSERT_TRUE(CreateRestrictedToken(processToken.get(), 0, 1, &disabled, 0, nullptr, 0, nullptr, userOnly.put()));

    qarv::UniqueKernelHandle elevated, unelevated;
    ASSERT_TRUE(DuplicateToken(processToken.get(), SecurityImpersonation, elevated.put()));
    ASSERT_TRUE(DuplicateToken(userOnly.get(), SecurityImpersonation, unelevated.put()));

    EXPECT_EQ(GrantedUnderWorkFolderRights(elevated.get()), static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
    const ACCESS_MASK user = GrantedUnderWorkFolderRights(unelevated.get());
    EXPECT_EQ(user, static_cast<ACCESS_MASK>(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE));
    EXPECT_EQ(user & (FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE |
                      WRITE_DAC | WRITE_OWNER),
              0u)
        << "the user's programs could swap the installer";
}

// Wine keeps a folder's rights as Unix permissions, so only what maps onto them can be read back:
// a folder with default rights is open to everyone, the work folder is not.
TEST(WorkFolderCreation, CreatedFolderIsClosedToEveryoneElse) {
    auto grantsEveryone = [](const std::wstring& path) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                  nullptr, &descriptor) != ERROR_SUCCESS) {
            return true;
        }
        bool found = false;
        for (const std::wstring& entry : DescribeDacl(descriptor)) found = found || entry.rfind(L"S-1-1-0 ", 0) == 0;
        LocalFree(descriptor);
        return found;
    };
    wchar_t temporaryPath[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temporaryPath);
    const std::wstring folder = std::wstring(temporaryPath) + L"_IS_rights_" + std::to_wstring(GetCurrentProcessId());
    RemoveDirectoryW(folder.c_str());

    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_TRUE(grantsEveryone(folder));  // what default rights look like here
    RemoveDirectoryW(folder.c_str());

    ASSERT_TRUE(CreateAndHoldWorkFolder(folder));
    EXPECT_FALSE(grantsEveryone(folder));
    // An existing folder is never taken over: its rights are not ours.
    EXPECT_FALSE(CreateAndHoldWorkFolder(folder));
    EXPECT_FALSE(CreateAndHoldWorkFolder(L""));
    RemoveDirectoryW(folder.c_str());
}

// ---- The held work folder ----

class WorkFolderHold : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temporaryPath[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temporaryPath);
        const std::wstring parent(temporaryPath, std::wcslen(temporaryPath) - 1);
        m_name = L"_IS_hold_" + std::to_wstring(GetCurrentProcessId());
        m_folder = parent + L"\\" + m_name;
        m_aside = m_folder + L".aside";
        qarv::UniqueFile parentHandle(CreateFileW(parent.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        ASSERT_TRUE(parentHandle);
        m_parentFinal = FinalPathOf(parentHandle.get());
        ASSERT_FALSE(m_parentFinal.empty());
        CleanUp();
    }
    void TearDown() override { CleanUp(); }
    void CleanUp() {
        RemoveDirectoryW(m_folder.c_str());
        RemoveDirectoryW(m_aside.c_str());
    }
    std::wstring ExpectedFinalPath() const { return m_parentFinal + L"\\" + m_name; }

    std::wstring m_name, m_folder, m_aside, m_parentFinal;
};

TEST_F(WorkFolderHold, HeldFolderCanBeNeitherRenamedNorRemovedUntilLetGo) {
    HeldWorkFolder hold = CreateAndHoldWorkFolder(m_folder);
    ASSERT_TRUE(hold) << "the launcher's own folder must pass its checks";
    EXPECT_EQ(FinalPathOf(hold.folder.get()), ExpectedFinalPath());
    EXPECT_EQ(hold.path, ExpectedFinalPath()) << "the run's one path is the held folder's own";
    // A program of the user holds the right to rename any child of its temporary folder; with
    // the handle open that right cannot be used.
    EXPECT_FALSE(MoveFileW(m_folder.c_str(), m_aside.c_str()));
    EXPECT_FALSE(RemoveDirectoryW(m_folder.c_str()));
    EXPECT_TRUE(GetFileAttributesW(m_folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    // The run itself still writes into it.
    const std::wstring file = m_folder + L"\\qarv2009Setup.dat";
    qarv::UniqueFile container(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    EXPECT_TRUE(container);
    container.reset();
    DeleteFileW(file.c_str());

    hold = HeldWorkFolder();
    EXPECT_TRUE(MoveFileW(m_folder.c_str(), m_aside.c_str())) << GetLastError();
    // A folder that already exists is never taken.
    EXPECT_FALSE(CreateAndHoldWorkFolder(m_aside));
}

TEST_F(WorkFolderHold, AnythingAlreadyAtThePathIsNeverTaken) {
    // A folder of the user's own, made at the path before the launcher's: not taken, not changed.
    ASSERT_TRUE(CreateDirectoryW(m_folder.c_str(), nullptr));
    const std::wstring theirs = m_folder + L"\\theirs.txt";
    qarv::UniqueFile file(CreateFileW(theirs.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(file);
    file.reset();
    EXPECT_FALSE(CreateAndHoldWorkFolder(m_folder));
    EXPECT_TRUE(qarv::test::PathExists(theirs));
    DeleteFileW(theirs.c_str());
    ASSERT_TRUE(RemoveDirectoryW(m_folder.c_str()));

    // A file at the path.
    file.reset(CreateFileW(m_folder.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(file);
    file.reset();
    EXPECT_FALSE(CreateAndHoldWorkFolder(m_folder));
    DeleteFileW(m_folder.c_str());
}

TEST_F(WorkFolderHold, HandleMustLeadToTheFolderAtItsPath) {
    HeldWorkFolder hold = CreateAndHoldWorkFolder(m_folder);
    ASSERT_TRUE(hold);
    EXPECT_TRUE(HandleLeadsTo(hold.folder.get(), ExpectedFinalPath()));
    EXPECT_FALSE(HandleLeadsTo(hold.folder.get(), m_parentFinal + L"\\elsewhere\\" + m_name));
    EXPECT_FALSE(HandleLeadsTo(hold.folder.get(), L""));
    // A file is no folder, wherever it lies.
    const std::wstring filePath = m_folder + L"\\file.bin";
    qarv::UniqueFile file(CreateFileW(filePath.c_str(), GENERIC_WRITE | GENERIC_READ, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(file);
    EXPECT_FALSE(HandleLeadsTo(file.get(), FinalPathOf(file.get())));
    file.reset();
    DeleteFileW(filePath.c_str());
}

TEST_F(WorkFolderHold, EveryFolderAboveTheHeldOneStaysInPlace) {
    // A folder of the user's own between TEMP and the work folder: the user may rename it at will,
    // which would carry the work folder away from the path the run names it by.
    const std::wstring between = m_folder + L".between";
    const std::wstring inner = between + L"\\" + m_name;
    ASSERT_TRUE(CreateDirectoryW(between.c_str(), nullptr));
    {
        HeldWorkFolder hold = CreateAndHoldWorkFolder(inner);
        ASSERT_TRUE(hold);
        EXPECT_EQ(hold.path, m_parentFinal + L"\\" + m_name + L".between\\" + m_name);
        EXPECT_GE(hold.ancestors.size(), 2u) << "the user's folder and the temporary folder above it";
        EXPECT_FALSE(MoveFileW(between.c_str(), m_aside.c_str())) << "a folder above the held one was renamed";
    }
    EXPECT_TRUE(MoveFileW(between.c_str(), m_aside.c_str())) << GetLastError();
    RemoveDirectoryW((m_aside + L"\\" + m_name).c_str());
    RemoveDirectoryW(m_aside.c_str());
}

// An answer that asks for more room every time (a path lengthening under a rename, or a faulty
// filter) ends with no path rather than a loop without end.
DWORD WINAPI EverGrowingFinalPath(HANDLE, LPWSTR, DWORD size, DWORD) { return size + 1; }
// A path longer than MAX_PATH whose size comes without the terminator's room: the same answer
// must fit the next time.
const std::wstring kLongFinalPath = L"C:\\" + std::wstring(300, L'x');
DWORD WINAPI FinalPathWithoutTerminator(HANDLE, LPWSTR buffer, DWORD size, DWORD) {
    const std::wstring text = L"\\\\?\\" + kLongFinalPath;
    const DWORD length = static_cast<DWORD>(text.size());
    if (size <= length) return length;
    std::wmemcpy(buffer, text.c_str(), length + 1);
    return length;
}

TEST(WorkFolderFinalPath, EveryAnswerOfTheSystemEnds) {
    qarv::PlatformCallsScope<WorkFolderPlatformCalls> calls;
    calls.calls().getFinalPathNameByHandle = EverGrowingFinalPath;
    EXPECT_EQ(FinalPathOf(GetCurrentProcess()), L"");
    calls.calls().getFinalPathNameByHandle = FinalPathWithoutTerminator;
    EXPECT_EQ(FinalPathOf(GetCurrentProcess()), kLongFinalPath);
}

// Real extra fixed drives: tests/setup/work_folder_spare_drive.sh mounts size-limited file systems
// as D: (exactly 314,572,800 bytes free) and E: (301 MiB) of the prefix, each with a marker file.
TEST(WorkFolderReal, SpareDriveScanOnMountedDrives) {
    if (GetFileAttributesW(L"D:\\qarv_spare_300m") == INVALID_FILE_ATTRIBUTES ||
        GetFileAttributesW(L"E:\\qarv_spare_301m") == INVALID_FILE_ATTRIBUTES) {
        GTEST_SKIP() << "no test drives mounted (work_folder_spare_drive.sh, as root)";
    }
    EXPECT_EQ(GetDriveTypeW(L"D:"), static_cast<UINT>(DRIVE_FIXED));
    EXPECT_EQ(GetDriveTypeW(L"E:"), static_cast<UINT>(DRIVE_FIXED));
    ULARGE_INTEGER free300 = {};
    ASSERT_TRUE(GetDiskFreeSpaceExW(L"D:", &free300, nullptr, nullptr));
    EXPECT_EQ(free300.QuadPart, 314572800ull);

    EXPECT_EQ(FindSpareFixedDrive(WindowsRoot()), L"E:");

    const std::wstring folder = MakeDatedFolderName(L"E:");
    ASSERT_TRUE(CreateAndHoldWorkFolder(folder)) << folder.c_str();
    EXPECT_TRUE(GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
