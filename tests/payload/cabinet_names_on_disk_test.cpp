// Names Windows treats as one file, names flagged UTF-8, and work folders outside the ANSI code
// page, through the real Cabinet.dll into real folders.
#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "payload/cabinet_extractor.h"
#include "tests/support/file_tree.h"
#include "tests/support/cabinet_handmade.h"

using namespace qarv;

namespace {

using qarv::test::ListFolder;
using qarv::test::ReadAll;
using qarv::test::RemoveTree;
using qarv::test::HandmadeCabinetFile;
using qarv::test::MakeHandmadeCabinet;
using qarv::test::WriteBytes;

constexpr uint16_t kUtf8Name = 0xA0;  // archive, name in UTF-8

std::string Utf8(const std::wstring& text) {
    std::string out(text.size() * 4, '\0');
    out.resize(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0],
                                   static_cast<int>(out.size()), nullptr, nullptr));
    return out;
}

// A scratch root whose own name carries `flavour` (which may lie outside the ANSI code page);
// <root>\work is the destination, and the container lies in it as the launcher's does.
class CabinetNames : public ::testing::Test {
protected:
    void Prepare(const std::wstring& flavour) {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        m_root = std::wstring(temp) + L"qarv_names_" + flavour + L"_" + std::to_wstring(GetCurrentProcessId());
        m_work = m_root + L"\\work";
        RemoveTree(m_root);
        ASSERT_TRUE(CreateDirectoryW(m_root.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(m_work.c_str(), nullptr));
    }
    void SetUp() override { Prepare(L"plain"); }
    void TearDown() override { RemoveTree(m_root); }

    // Extracts `files` from a container written into the work folder; 1 or 0 as ExtractCabinet.
    int Extract(const std::vector<HandmadeCabinetFile>& files) {
        m_container = m_work + L"\\qarv2009Setup.dat";
        EXPECT_TRUE(WriteBytes(m_container, MakeHandmadeCabinet(files)));
        std::wmemset(m_programPath, L'x', std::size(m_programPath) - 1);
        m_programPath[std::size(m_programPath) - 1] = L'\0';
        return ExtractCabinet(m_container.c_str(), m_work.c_str(), m_programPath);
    }

    std::wstring m_root, m_work, m_container;
    wchar_t m_programPath[kProgramPathCapacity];
};

TEST_F(CabinetNames, TwoNamesOfOneFileAbandonTheExtractionAndLeaveTheFirstWhole) {
    const std::string first(11000, 'A');
    struct Case {
        const char* earlier;
        const char* later;
        uint16_t attributes;
        const wchar_t* onDisk;
    };
    const Case cases[] = {
        {"data.bin", "data.bin.", 0x20, L"data.bin"},
        {"data.bin", "data.bin ", 0x20, L"data.bin"},
        {"Setup.ini", "SETUP.INI", 0x20, L"Setup.ini"},
        {"\xC3\x89tat.dat", "\xC3\xA9tat.dat", kUtf8Name, L"\u00C9tat.dat"},  // État.dat, état.dat
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.later);
        std::vector<HandmadeCabinetFile> files = {{c.earlier, first}, {c.later, "second file"}, {"after.exe", "after"}};
        for (auto& file : files) file.attributes = c.attributes;
        EXPECT_EQ(Extract(files), 0);
        EXPECT_EQ(m_programPath[0], L'x') << "no program path on a failure";
        EXPECT_EQ(ReadAll(m_work + L"\\" + c.onDisk), first) << "the first file is not spliced";
        EXPECT_EQ(ReadAll(m_work + L"\\after.exe"), "<missing>");
        RemoveTree(m_work);
        ASSERT_TRUE(CreateDirectoryW(m_work.c_str(), nullptr));
    }
}

TEST_F(CabinetNames, ShortAliasOfAnExtractedFileAbandonsTheExtraction) {
    // The alias the file system gave the first file, read back from it.
    ASSERT_EQ(Extract({{"Qarv2009Install.exe", "long"}}), 1);
    wchar_t alias[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameW((m_work + L"\\Qarv2009Install.exe").c_str(), alias, MAX_PATH), 0u);
    const std::wstring shortName = std::wstring(alias).substr(std::wstring(alias).rfind(L'\\') + 1);
    ASSERT_NE(shortName, L"Qarv2009Install.exe");
    RemoveTree(m_work);
    ASSERT_TRUE(CreateDirectoryW(m_work.c_str(), nullptr));

    EXPECT_EQ(Extract({{"Qarv2009Install.exe", "the real program"}, {Utf8(shortName), "spliced"}}), 0);
    EXPECT_EQ(ReadAll(m_work + L"\\Qarv2009Install.exe"), "the real program");
}

TEST_F(CabinetNames, TheContainersOwnNameInAnyCaseIsRefusedAndTheContainerKept) {
    // QARV20~1.DAT is the container's alias where the volume makes 8.3 names (never under Wine).
    for (const char* name : {"qarv2009Setup.dat", "QARV2009SETUP.DAT", "qarv2009setup.dat.", "QARV20~1.DAT."}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Extract({{"first.txt", "first"}, {name, "over the container"}}), 0);
        const std::string container = ReadAll(m_container);
        EXPECT_EQ(container.compare(0, 4, "MSCF"), 0) << "the container was written over";
        RemoveTree(m_work);
        ASSERT_TRUE(CreateDirectoryW(m_work.c_str(), nullptr));
    }
}

TEST_F(CabinetNames, MoreReservedDeviceNamesAreRefused) {
    for (const char* name : {"COM\xC2\xB9", "lpt\xC2\xB2.txt", "COM\xC2\xB3.log", "CONIN$", "conout$.txt"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Extract({{"first.txt", "first"}, {name, "device", 0x3A2F, 0x528F, kUtf8Name}}), 0);
        RemoveTree(m_work);
        ASSERT_TRUE(CreateDirectoryW(m_work.c_str(), nullptr));
    }
}

TEST_F(CabinetNames, NamesFlaggedUtf8ComeOutUnderTheirRealNames) {
    // "café.txt", "cafë.txt", then "Học Sinh.exe": two names that a code-page reading collapses.
    std::vector<HandmadeCabinetFile> files = {{"caf\xC3\xA9.txt", "e acute", 0x3A2F, 0x528F, kUtf8Name},
                                              {"caf\xC3\xAB.txt", "e diaeresis", 0x3A2F, 0x528F, kUtf8Name},
                                              {"H\xE1\xBB\x8D\x63 Sinh.exe", "program", 0x3A2F, 0x528F, kUtf8Name}};
    ASSERT_EQ(Extract(files), 1);
    EXPECT_EQ(ReadAll(m_work + L"\\caf\u00E9.txt"), "e acute");
    EXPECT_EQ(ReadAll(m_work + L"\\caf\u00EB.txt"), "e diaeresis");
    EXPECT_EQ(std::wstring(m_programPath), m_work + L"\\H\u1ECDc Sinh.exe");
    EXPECT_EQ(ReadAll(m_programPath), "program");
    EXPECT_EQ(ListFolder(m_work).size(), 4u);  // the three and the container

    // Flagged but not UTF-8: refused, not guessed at.
    RemoveTree(m_work);
    ASSERT_TRUE(CreateDirectoryW(m_work.c_str(), nullptr));
    EXPECT_EQ(Extract({{"caf\xE9.txt", "latin-1", 0x3A2F, 0x528F, kUtf8Name}}), 0);
}

TEST_F(CabinetNames, WorkFolderOutsideTheAnsiCodePageIsUsedAsItIs) {
    // Letters the ANSI code page lacks ("?" on conversion), and ones it best-fits to plain letters.
    int lookAlikes = 0;
    for (const wchar_t* flavour : {L"H\u1ECDc Sinh", L"b\u0101d", L"\uFF21\uFF22"}) {
        Prepare(flavour);
        SCOPED_TRACE(Utf8(m_work));
        // The folder an ANSI conversion of the path would name instead. Where that is a real
        // place (best fit), another user could own it: plant a cabinet there.
        char ansi[MAX_PATH] = {};
        wchar_t lookAlike[MAX_PATH] = {};
        WideCharToMultiByte(CP_ACP, 0, m_work.c_str(), -1, ansi, MAX_PATH, nullptr, nullptr);
        MultiByteToWideChar(CP_ACP, 0, ansi, -1, lookAlike, MAX_PATH);
        const bool planted = std::wstring(lookAlike) != m_work && std::wcschr(lookAlike, L'?') == nullptr;
        if (planted) {
            ++lookAlikes;
            CreateDirectoryW(std::wstring(lookAlike).substr(0, std::wstring(lookAlike).rfind(L'\\')).c_str(), nullptr);
            ASSERT_TRUE(CreateDirectoryW(lookAlike, nullptr));
            ASSERT_TRUE(WriteBytes(std::wstring(lookAlike) + L"\\qarv2009Setup.dat",
                                   MakeHandmadeCabinet({{"setup.exe", "planted program"}})));
        }
        const std::vector<HandmadeCabinetFile> real = {{"readme.txt", "real"}, {"setup.exe", "real program"}};
        ASSERT_EQ(Extract(real), 1);
        EXPECT_EQ(std::wstring(m_programPath), m_work + L"\\setup.exe");
        EXPECT_EQ(ReadAll(m_work + L"\\setup.exe"), "real program");
        EXPECT_EQ(ReadAll(m_work + L"\\readme.txt"), "real");
        if (planted) {
            EXPECT_EQ(ListFolder(lookAlike).size(), 1u) << "nothing is written into the look-alike folder";
            const std::wstring lookAlikeRoot = std::wstring(lookAlike).substr(0, std::wstring(lookAlike).rfind(L'\\'));
            RemoveTree(lookAlikeRoot);
        }
        TearDown();
    }
    EXPECT_GE(lookAlikes, 1) << "the ANSI code page represents every flavour: nothing was shown";
}

}  // namespace
