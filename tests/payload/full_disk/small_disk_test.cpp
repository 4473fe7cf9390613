// The drop and the extraction when the disk fills up for real: a 64 KiB tmpfs, reached through Z:,
// is too small for the payload. The drop must fail, leave the chunks it wrote in a closed container
// file, and stop the bar short of 50; an extraction that fills it must fail, not hand over a cut
// program.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <vector>

#include "payload/cabinet_extractor.h"
#include "payload/payload_dropper.h"
#include "tests/support/test_paths.h"
#include "tests/support/cabinet_handmade.h"
#include "tests/support/payload_probe_module.h"

using namespace qarv;

namespace {

using namespace qarv::payload_test;
using qarv::test::FromUnixPath;

TEST(PayloadDropOnFullDisk, ShortWriteLeavesAClosedPartialContainer) {
    const std::wstring disk = FromUnixPath(QARV_SMALL_DISK);
    ASSERT_NE(GetFileAttributesW(disk.c_str()), INVALID_FILE_ATTRIBUTES) << "the small disk is not mounted";
    const std::wstring container = disk + L"\\qarv2009Setup.dat";
    DeleteFileW(container.c_str());
    const std::vector<std::uint8_t> cabinet = ReadWholeFile(FromUnixPath(QARV_PAYLOAD_CABINET));
    ASSERT_GT(cabinet.size(), 65536u) << "the payload must be larger than the small disk";

    ProgressRecorder bar;
    EXPECT_EQ(DropPayload(GetModuleHandleW(nullptr), container.c_str(), &bar), 0);

    EXPECT_TRUE(FileIsClosed(container));
    const std::vector<std::uint8_t> partial = ReadWholeFile(container);
    EXPECT_GE(partial.size(), 4096u);
    EXPECT_LE(partial.size(), 65536u);
    EXPECT_TRUE(std::equal(partial.begin(), partial.end(), cabinet.begin())) << "the chunks written are not the cabinet's";
    // One position per chunk written in full, none for the chunk that did not fit.
    EXPECT_EQ(bar.Positions().size(), partial.size() / 4096);
    ASSERT_FALSE(bar.Positions().empty());
    EXPECT_LT(bar.Positions().back(), 50);
    DeleteFileW(container.c_str());
}

TEST(CabinetExtractionOnFullDisk, ProgramCutShortFailsTheExtraction) {
    const std::wstring disk = FromUnixPath(QARV_SMALL_DISK);
    ASSERT_NE(GetFileAttributesW(disk.c_str()), INVALID_FILE_ATTRIBUTES) << "the small disk is not mounted";
    const std::wstring work = disk + L"\\extract";
    CreateDirectoryW(work.c_str(), nullptr);
    // The container lies elsewhere; only the extracted program meets the full disk.
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring container = std::wstring(temp) + L"qarv-full-disk.cab";
    ASSERT_TRUE(qarv::test::WriteBytes(
        container, qarv::test::MakeHandmadeCabinet({{"readme.txt", "fits"}, {"setup.exe", std::string(200000, 'P')}})));

    wchar_t programPath[kProgramPathCapacity] = L"untouched";
    EXPECT_EQ(ExtractCabinet(container.c_str(), work.c_str(), programPath), 0);
    EXPECT_STREQ(programPath, L"untouched");

    DeleteFileW(container.c_str());
    DeleteFileW((work + L"\\readme.txt").c_str());
    DeleteFileW((work + L"\\setup.exe").c_str());
    RemoveDirectoryW(work.c_str());
}

}  // namespace
