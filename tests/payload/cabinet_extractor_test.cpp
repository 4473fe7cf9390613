// Cabinet extraction through the real Cabinet.dll: cabinets made by gcab at build time and by
// hand, real files in a scratch folder, times and attributes read back from the file system.
#include <gtest/gtest.h>

#include <windows.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "common/platform_calls.h"
#include "common/unique_handle.h"
#include "payload/cabinet_extractor.h"
#include "tests/support/file_tree.h"
#include "tests/support/test_paths.h"
#include "tests/support/cabinet_handmade.h"

using namespace qarv;

namespace {

using qarv::test::ListFolder;
using qarv::test::ReadAll;
using qarv::test::RemoveTree;
using qarv::test::HandmadeCabinetFile;
using qarv::test::MakeHandmadeCabinet;
using qarv::test::ProgramFolder;
using qarv::test::WriteBytes;

std::wstring DataPath(const wchar_t* name) { return ProgramFolder() + L"\\cabinet_data\\" + name; }

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(static_cast<char>(c));
    return out;
}

// Read-only, hidden and system. Wine reports the archive bit on every file of a Unix file system,
// whatever was set, so the archive bit is not compared.
DWORD DosAttributes(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
}

FILETIME LocalWallClockToUtc(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME local = {};
    local.wYear = year;
    local.wMonth = month;
    local.wDay = day;
    local.wHour = hour;
    local.wMinute = minute;
    local.wSecond = second;
    SYSTEMTIME utc = {};
    TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc);
    FILETIME result = {};
    SystemTimeToFileTime(&utc, &result);
    return result;
}

ULONGLONG Ticks(const FILETIME& time) { return (ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime; }

struct FileTimes {
    FILETIME creation = {}, access = {}, write = {};
};

FileTimes ReadTimes(const std::wstring& path) {
    FileTimes times;
    qarv::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file) GetFileTime(file.get(), &times.creation, &times.access, &times.write);
    return times;
}

// A scratch tree per test: <root>\work is the destination folder, <root> is "outside".
class CabinetExtraction : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        m_root = std::wstring(temp) + L"qarv_cab_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                 std::to_wstring(GetTickCount());
        m_work = m_root + L"\\work";
        ASSERT_TRUE(CreateDirectoryW(m_root.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(m_work.c_str(), nullptr));
        std::wmemset(m_programPath, L'x', std::size(m_programPath));
        m_programPath[std::size(m_programPath) - 1] = L'\0';
    }
    void TearDown() override { RemoveTree(m_root); }

    std::wstring Handmade(const std::vector<HandmadeCabinetFile>& files) {
        const std::wstring path = m_root + L"\\handmade.cab";
        EXPECT_TRUE(WriteBytes(path, MakeHandmadeCabinet(files)));
        return path;
    }
    bool ProgramPathUntouched() const {
        return std::wstring(m_programPath) == std::wstring(std::size(m_programPath) - 1, L'x');
    }

    std::wstring m_root;
    std::wstring m_work;
    wchar_t m_programPath[kProgramPathCapacity + 8];
};

TEST_F(CabinetExtraction, OneFileYieldsItsPathInTheFolderWithOrWithoutTrailingBackslash) {
    ASSERT_EQ(ExtractCabinet(DataPath(L"one.cab").c_str(), m_work.c_str(), m_programPath), 1);
    EXPECT_EQ(std::wstring(m_programPath), m_work + L"\\setup.exe");
    EXPECT_EQ(ReadAll(m_work + L"\\setup.exe"), ReadAll(DataPath(L"src\\setup.exe")));
    EXPECT_EQ(ListFolder(m_work).size(), 1u);

    // A folder given with its trailing backslash gets no second one.
    RemoveTree(m_work);
    ASSERT_TRUE(CreateDirectoryW(m_work.c_str(), nullptr));
    const std::wstring withBackslash = m_work + L"\\";
    ASSERT_EQ(ExtractCabinet(DataPath(L"one.cab").c_str(), withBackslash.c_str(), m_programPath), 1);
    EXPECT_EQ(std::wstring(m_programPath), m_work + L"\\setup.exe");
}

TEST_F(CabinetExtraction, SeveralFilesAllExtractedAndTheLastOneIsTheProgram) {
    ASSERT_EQ(ExtractCabinet(DataPath(L"several.cab").c_str(), m_work.c_str(), m_programPath), 1);
    EXPECT_EQ(std::wstring(m_programPath), m_work + L"\\setup.exe");
    for (const wchar_t* name : {L"readme.txt", L"data.bin", L"setup.exe"}) {
        EXPECT_EQ(ReadAll(m_work + L"\\" + name), ReadAll(DataPath((std::wstring(L"src\\") + name).c_str()))) << name;
    }
    // The program path out is terminated within its 260 bytes and nothing past them is written.
    EXPECT_EQ(m_programPath[kProgramPathCapacity + 1], L'x');
}

TEST_F(CabinetExtraction, ContainerPathWithoutBackslashIsOpenedFromTheCurrentFolder) {
    const std::wstring copy = m_root + L"\\relative.cab";
    ASSERT_TRUE(CopyFileW(DataPath(L"one.cab").c_str(), copy.c_str(), FALSE));
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(m_root.c_str()));
    const int result = ExtractCabinet(L"relative.cab", m_work.c_str(), m_programPath);
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(std::wstring(m_programPath), m_work + L"\\setup.exe");
}

TEST_F(CabinetExtraction, GcabDateBecomesCreationAndWriteTimeInUtc) {
    ASSERT_EQ(ExtractCabinet(DataPath(L"dated.cab").c_str(), m_work.c_str(), m_programPath), 1);
    const FileTimes times = ReadTimes(m_work + L"\\dated.txt");
    const ULONGLONG expected = Ticks(LocalWallClockToUtc(2009, 1, 15, 10, 20, 30));
    EXPECT_EQ(Ticks(times.creation), expected);
    EXPECT_EQ(Ticks(times.write), expected);
    // The cabinet's date is not the last access: that one stays as extraction made it.
    EXPECT_GT(Ticks(times.access), expected);
}

TEST_F(CabinetExtraction, AttributesKeepOnlyReadOnlyHiddenSystemArchive) {
    std::vector<HandmadeCabinetFile> files(4);
    files[0] = {"plain.txt", "plain", 0x3A2F, 0x528F, 0x00};
    files[1] = {"readonly.txt", "ro", 0x3A2F, 0x528F, 0x01};
    files[2] = {"hidden_system.txt", "hs", 0x3A2F, 0x528F, 0x02 | 0x04 | 0x20};
    // Directory (0x10), executable (0x40) and UTF-8-name (0x80) bits are not file attributes.
    files[3] = {"dropped_bits.exe", "db", 0x3A2F, 0x528F, 0x01 | 0x10 | 0x40 | 0x80};
    ASSERT_EQ(ExtractCabinet(Handmade(files).c_str(), m_work.c_str(), m_programPath), 1);
    EXPECT_EQ(DosAttributes(m_work + L"\\plain.txt"), 0u);
    EXPECT_EQ(DosAttributes(m_work + L"\\readonly.txt"), DWORD{FILE_ATTRIBUTE_READONLY});
    EXPECT_EQ(DosAttributes(m_work + L"\\hidden_system.txt"), DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM});
    EXPECT_EQ(DosAttributes(m_work + L"\\dropped_bits.exe"), DWORD{FILE_ATTRIBUTE_READONLY});
    EXPECT_EQ(GetFileAttributesW((m_work + L"\\dropped_bits.exe").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    // The read-only file still got its times: they are set before the attributes.
    EXPECT_EQ(Ticks(ReadTimes(m_work + L"\\readonly.txt").write), Ticks(LocalWallClockToUtc(2009, 1, 15, 10, 20, 30)));
    EXPECT_EQ(std::wstring(m_programPath), m_work + L"\\dropped_bits.exe");
}

TEST_F(CabinetExtraction, InvalidDosDateKeepsExtractionTimesButStillAppliesAttributes) {
    FILETIME before = {};
    GetSystemTimeAsFileTime(&before);
    // Month 13, and 25:61:62 o'clock.
    std::vector<HandmadeCabinetFile> files = {{"bad_date.txt", "x", static_cast<uint16_t>((29 << 9) | (13 << 5) | 1),
                                               static_cast<uint16_t>((25 << 11) | (61 << 5) | 31), 0x01}};
    ASSERT_EQ(ExtractCabinet(Handmade(files).c_str(), m_work.c_str(), m_programPath), 1);
    const std::wstring path = m_work + L"\\bad_date.txt";
    EXPECT_EQ(DosAttributes(path), DWORD{FILE_ATTRIBUTE_READONLY});
    EXPECT_GE(Ticks(ReadTimes(path).write) + 20'000'000, Ticks(before));  // within 2 s of now, file-system rounding
}

TEST_F(CabinetExtraction, NotACabinetFailsWithNothingCreated) {
    EXPECT_EQ(ExtractCabinet(DataPath(L"not_a_cabinet.dat").c_str(), m_work.c_str(), m_programPath), 0);
    EXPECT_EQ(ExtractCabinet((m_root + L"\\missing.cab").c_str(), m_work.c_str(), m_programPath), 0);
    EXPECT_TRUE(ListFolder(m_work).empty());
    EXPECT_TRUE(ProgramPathUntouched());
}

TEST_F(CabinetExtraction, NameWithFolderPartFailsThereUnlessTheFolderExists) {
    EXPECT_EQ(ExtractCabinet(DataPath(L"folders.cab").c_str(), m_work.c_str(), m_programPath), 0);
    EXPECT_TRUE(ProgramPathUntouched());
    EXPECT_TRUE(qarv::test::PathExists(m_work + L"\\first.txt"));
    EXPECT_FALSE(qarv::test::PathExists(m_work + L"\\sub"));  // no folder is created
    EXPECT_FALSE(qarv::test::PathExists(m_work + L"\\last.txt"));

    RemoveTree(m_work);
    ASSERT_TRUE(CreateDirectoryW(m_work.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((m_work + L"\\sub").c_str(), nullptr));
    ASSERT_EQ(ExtractCabinet(DataPath(L"folders.cab").c_str(), m_work.c_str(), m_programPath), 1);
    EXPECT_EQ(ReadAll(m_work + L"\\sub\\inner.txt"), "inner\r\n");
    EXPECT_EQ(std::wstring(m_programPath), m_work + L"\\last.txt");
}

TEST_F(CabinetExtraction, NamesThatLeaveTheFolderAbandonTheExtraction) {
    const std::string drive = Narrow(m_root.substr(0, 2));
    const std::vector<std::string> hostile = {
        "..\\escaped.txt", "sub\\..\\..\\escaped.txt", "../escaped.txt", ". .\\escaped.txt", "...\\escaped.txt",
        "\\escaped.txt", "/escaped.txt", drive + "escaped.txt", drive + "\\escaped.txt",
        "setup.exe:stream", "CON", "nul.txt", "folder\\",
    };
    for (const std::string& name : hostile) {
        SCOPED_TRACE(name);
        std::vector<HandmadeCabinetFile> files = {{"good.txt", "good"}, {name, "evil"}, {"after.txt", "after"}};
        EXPECT_EQ(ExtractCabinet(Handmade(files).c_str(), m_work.c_str(), m_programPath), 0);
        EXPECT_TRUE(ProgramPathUntouched());
        EXPECT_EQ(ReadAll(m_work + L"\\good.txt"), "good");  // files before it stay
        EXPECT_FALSE(qarv::test::PathExists(m_work + L"\\after.txt"));
        EXPECT_FALSE(qarv::test::PathExists(m_root + L"\\escaped.txt"));
        EXPECT_FALSE(qarv::test::PathExists(m_root.substr(0, 3) + L"escaped.txt"));
        EXPECT_FALSE(qarv::test::PathExists(m_work + L"\\setup.exe"));
        RemoveTree(m_work);
        ASSERT_TRUE(CreateDirectoryW(m_work.c_str(), nullptr));
    }
}

TEST_F(CabinetExtraction, JoinedPathLongerThan259BytesIsRefused) {
    // A destination that leaves room for a short name but not for a long one.
    std::wstring deep = m_work;
    while (deep.size() < 220) {
        deep += L"\\" + std::wstring(std::min<size_t>(40, 220 - deep.size()), L'd');
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    }
    const size_t room = 259 - (deep.size() + 1);
    std::vector<HandmadeCabinetFile> fits = {{std::string(room, 'f'), "fits"}};
    ASSERT_EQ(ExtractCabinet(Handmade(fits).c_str(), deep.c_str(), m_programPath), 1);
    EXPECT_EQ(std::wcslen(m_programPath), 259u);

    std::wmemset(m_programPath, L'x', std::size(m_programPath) - 1);
    std::vector<HandmadeCabinetFile> tooLong = {{std::string(room + 1, 'g'), "too long"}};
    EXPECT_EQ(ExtractCabinet(Handmade(tooLong).c_str(), deep.c_str(), m_programPath), 0);
    EXPECT_TRUE(ProgramPathUntouched());
    EXPECT_EQ(ListFolder(deep).size(), 1u);
}

TEST_F(CabinetExtraction, OverlongContainerOrFolderPathFailsWithoutWriting) {
    const std::wstring longName = m_root + L"\\" + std::wstring(300, L'c') + L".cab";
    EXPECT_EQ(ExtractCabinet(longName.c_str(), m_work.c_str(), m_programPath), 0);
    const std::wstring longFolder = m_work + L"\\" + std::wstring(300, L'w');
    EXPECT_EQ(ExtractCabinet(DataPath(L"one.cab").c_str(), longFolder.c_str(), m_programPath), 0);
    EXPECT_EQ(ExtractCabinet(DataPath(L"one.cab").c_str(), L"", m_programPath), 0);
    EXPECT_TRUE(ProgramPathUntouched());
    EXPECT_TRUE(ListFolder(m_work).empty());
    EXPECT_TRUE(ListFolder(m_root).size() == 1u);  // only work itself
}

TEST_F(CabinetExtraction, EmptyCabinetFailsForWantOfAProgram) {
    const std::wstring path = Handmade({});
    EXPECT_EQ(ExtractCabinet(path.c_str(), m_work.c_str(), m_programPath), 0);
    EXPECT_TRUE(ProgramPathUntouched());
    EXPECT_TRUE(ListFolder(m_work).empty());
}

// A cabinet cut in its data: the header and the file list are whole, a data block is missing.
// FDI reports the failure through the error record it was given at FDICreate; that record must
// still be there when FDICopy fails, long after the open that created the context returned.
TEST_F(CabinetExtraction, CabinetCutInItsDataFailsAndFdiReportsIntoTheRecordItWasGiven) {
    const std::string whole = ReadAll(DataPath(L"several.cab"));
    ASSERT_GT(whole.size(), 3 * 32768u);
    const std::wstring cut = m_root + L"\\cut.cab";
    ASSERT_TRUE(WriteBytes(cut, std::vector<unsigned char>(whole.begin(), whole.begin() + whole.size() / 2)));

    CabinetApi api;
    qarv::ScopeExit release([&api] { ReleaseCabinetApi(api); });
    ASSERT_EQ(LoadCabinetLibrary(api), 1);
    ASSERT_EQ(OpenCabinet(api, cut.c_str()), 1) << "the header is whole";
    EXPECT_EQ(api.error.fError, FALSE);
    EXPECT_EQ(CopyCabinet(api, m_work.c_str(), m_programPath), 0);
    EXPECT_NE(api.error.fError, FALSE);
    EXPECT_NE(api.error.erfOper, FDIERROR_NONE);
    EXPECT_TRUE(ProgramPathUntouched());

    // Through the whole operation as the setup calls it, the same cabinet fails plainly.
    RemoveTree(m_work);
    ASSERT_TRUE(CreateDirectoryW(m_work.c_str(), nullptr));
    EXPECT_EQ(ExtractCabinet(cut.c_str(), m_work.c_str(), m_programPath), 0);
    EXPECT_TRUE(ProgramPathUntouched());
}

// ---- Cabinet sets: the container is one whole cabinet ----

struct BoundedExtraction {
    std::wstring container, folder;
    wchar_t* programPath = nullptr;
    int result = -1;
};

// ExtractCabinet on a thread of its own, waited for at most `timeoutMs`. An extraction still
// running then would hold the launcher for good: the failure is reported and the process ends,
// as FDI's state on the stuck thread cannot be taken back.
int ExtractWithin(DWORD timeoutMs, const std::wstring& container, const std::wstring& folder, wchar_t* programPath) {
    BoundedExtraction run{container, folder, programPath};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* argument) -> DWORD {
            auto* extraction = static_cast<BoundedExtraction*>(argument);
            extraction->result =
                ExtractCabinet(extraction->container.c_str(), extraction->folder.c_str(), extraction->programPath);
            return 0;
        },
        &run, 0, nullptr);
    if (thread == nullptr) return -1;
    if (WaitForSingleObject(thread, timeoutMs) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the extraction still runs after " << timeoutMs << " ms";
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 1);
    }
    CloseHandle(thread);
    return run.result;
}

TEST_F(CabinetExtraction, CabinetThatContinuesInANextCabinetIsAbandonedNotAskedForAgain) {
    // The last file runs on into "part2.cab", which lies right beside it: the extraction opens
    // nothing but the container, so the next part can never be had.
    std::vector<HandmadeCabinetFile> files = {{"readme.txt", "read me"}, {"setup.exe", std::string(100, 's')}};
    files[1].folder = 0xFFFE;
    files[1].declaredSize = 300;
    const std::vector<unsigned char> bytes = MakeHandmadeCabinet(files, {"", "", "part2.cab", "disk 2"});
    const std::wstring container = m_root + L"\\part1.cab";
    ASSERT_TRUE(WriteBytes(container, bytes));
    ASSERT_TRUE(WriteBytes(m_root + L"\\part2.cab", MakeHandmadeCabinet({{"setup.exe", std::string(200, 's')}})));
    EXPECT_EQ(ExtractWithin(30000, container, m_work, m_programPath), 0);
    EXPECT_TRUE(ProgramPathUntouched());
    EXPECT_FALSE(qarv::test::PathExists(m_work + L"\\part2.cab"));
}

TEST_F(CabinetExtraction, CabinetThatContinuesAPreviousCabinetIsAbandoned) {
    // Its first file began in another cabinet: what is here is no whole payload, even though a
    // complete file follows that could be taken for the program.
    std::vector<HandmadeCabinetFile> files = {{"setup.exe", std::string(100, 's')}, {"readme.txt", "read me"}};
    files[0].folder = 0xFFFD;
    const std::wstring container = m_root + L"\\part2.cab";
    ASSERT_TRUE(WriteBytes(container, MakeHandmadeCabinet(files, {"part1.cab", "disk 1", "", ""})));
    EXPECT_EQ(ExtractWithin(30000, container, m_work, m_programPath), 0);
    EXPECT_TRUE(ProgramPathUntouched());
}

TEST_F(CabinetExtraction, DescriptorZeroIsNotTakenForSkipThisFile) {
    // FDI reads 0 from the copy notification as "skip the file", which would leave it empty and
    // make the next one the program. With the runtime's descriptor 0 free, a created file gets it.
    std::wcscpy(CabinetDestFolder, (m_work + L"\\").c_str());
    char name[] = "first.txt";
    FDINOTIFICATION notification = {};
    notification.psz1 = name;
    notification.attribs = 0x20;
    const int savedInput = _dup(0);
    _close(0);
    const INT_PTR answer = CabinetNotify(fdintCOPY_FILE, &notification);
    if (answer != -1) _close(static_cast<int>(answer));
    if (savedInput != -1) {
        _dup2(savedInput, 0);
        _close(savedInput);
    }
    EXPECT_NE(answer, 0);
    EXPECT_NE(answer, -1);
    EXPECT_TRUE(qarv::test::PathExists(m_work + L"\\first.txt"));
}

// ---- The library ----

std::wstring SystemFolder() {
    wchar_t path[MAX_PATH] = {};
    GetSystemDirectoryW(path, MAX_PATH);
    return path;
}

TEST(CabinetLibrary, ComesFromTheSystemFolderAndIsUnloadedOnRelease) {
    CabinetApi api;
    ASSERT_EQ(LoadCabinetLibrary(api), 1);
    ASSERT_TRUE(api.module);
    EXPECT_NE(api.fdiCreate, nullptr);
    EXPECT_NE(api.fdiCopy, nullptr);
    EXPECT_NE(api.fdiIsCabinet, nullptr);
    EXPECT_NE(api.fdiDestroy, nullptr);
    wchar_t loaded[MAX_PATH] = {};
    GetModuleFileNameW(api.module.get(), loaded, MAX_PATH);
    const std::wstring folder = SystemFolder() + L"\\";
    EXPECT_EQ(CompareStringOrdinal(loaded, static_cast<int>(folder.size()), folder.c_str(), -1, TRUE), CSTR_EQUAL) << loaded;
    // A second load on the same record keeps the first.
    const HMODULE first = api.module.get();
    EXPECT_EQ(LoadCabinetLibrary(api), 1);
    EXPECT_EQ(api.module.get(), first);
    ReleaseCabinetApi(api);
    EXPECT_FALSE(api.module);
    EXPECT_FALSE(api.context);
    ReleaseCabinetApi(api);  // repeatable
}

std::wstring LackingLibraryPath() { return ProgramFolder() + L"\\cabinet_lacking_is_cabinet.dll"; }
HMODULE LoadLackingLibrary() { return LoadLibraryW(LackingLibraryPath().c_str()); }
HMODULE LoadNothing() { return nullptr; }

TEST_F(CabinetExtraction, LibraryWithoutFDIIsCabinetIsRefusedAndUnloaded) {
    ASSERT_TRUE(qarv::test::PathExists(LackingLibraryPath()));
    qarv::PlatformCallsScope<CabinetExtractorPlatformCalls> loader({LoadLackingLibrary});
    CabinetApi api;
    EXPECT_EQ(LoadCabinetLibrary(api), 0);
    EXPECT_FALSE(api.module);
    EXPECT_EQ(api.fdiCreate, nullptr);
    EXPECT_EQ(GetModuleHandleW(LackingLibraryPath().c_str()), nullptr);

    EXPECT_EQ(ExtractCabinet(DataPath(L"one.cab").c_str(), m_work.c_str(), m_programPath), 0);
    EXPECT_EQ(GetModuleHandleW(LackingLibraryPath().c_str()), nullptr);
    EXPECT_TRUE(ProgramPathUntouched());
    EXPECT_TRUE(ListFolder(m_work).empty());

    loader.calls().loadCabinetLibrary = LoadNothing;
    EXPECT_EQ(ExtractCabinet(DataPath(L"one.cab").c_str(), m_work.c_str(), m_programPath), 0);

    // And back on the system library, the same cabinet extracts.
    loader.calls().loadCabinetLibrary = nullptr;
    EXPECT_EQ(ExtractCabinet(DataPath(L"one.cab").c_str(), m_work.c_str(), m_programPath), 1);
}

}  // namespace
