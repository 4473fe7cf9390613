// The payload drop against real modules, files and a window: bytes, progress, failures, and a
// fault while reading the payload memory.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/platform_calls.h"
#include "common/unique_handle.h"
#include "payload/payload_dropper.h"
#include "tests/support/file_tree.h"
#include "tests/support/test_paths.h"
#include "tests/support/payload_probe_module.h"

using namespace qarv;

namespace {

using qarv::payload_test::FileIsClosed;
using qarv::payload_test::ProbeModule;
using qarv::payload_test::ProgressRecorder;
using qarv::payload_test::RandomBytes;
using qarv::payload_test::ReadWholeFile;
using qarv::payload_test::ScratchFolder;
using qarv::test::PathExists;

std::vector<std::uint8_t> Scrambled(std::vector<std::uint8_t> bytes) {
    ScramblePayload(bytes.data(), bytes.size());
    return bytes;
}

std::vector<int> ExpectedPositions(DWORD size) {
    std::vector<int> positions;
    for (DWORD written = 0; written < size;) {
        written += size - written >= kPayloadChunkSize ? kPayloadChunkSize : size - written;
        positions.push_back(static_cast<int>(static_cast<unsigned long long>(written) * 50 / size));
    }
    return positions;
}

TEST(PayloadDrop, WritesTheUnscrambledBytesAndRunsTheBarTo50) {
    ScratchFolder folder;
    for (DWORD size : {1u, 4095u, 4097u, 8192u, 3u * 4096u + 17u, 100000u}) {
        const std::vector<std::uint8_t> cabinet = RandomBytes(size, size);
        ProbeModule probe(folder.File(L"probe.dll"), Scrambled(cabinet));
        ProgressRecorder bar;
        const std::wstring container = folder.File(L"qarv2009Setup.dat");
        ASSERT_EQ(DropPayload(probe.Get(), container.c_str(), &bar), 1) << size;
        EXPECT_EQ(ReadWholeFile(container), cabinet) << size;
        EXPECT_TRUE(FileIsClosed(container));
        EXPECT_EQ(bar.Positions(), ExpectedPositions(size)) << size;
        EXPECT_EQ(bar.Positions().back(), 50);
        EXPECT_TRUE(std::is_sorted(bar.Positions().begin(), bar.Positions().end()));
        EXPECT_EQ(bar.OtherMessages(), 0);
    }
}

TEST(PayloadDrop, SingleChunkSendsOnly50AndNoDialogSendsNothing) {
    ScratchFolder folder;
    const std::vector<std::uint8_t> cabinet = RandomBytes(4096, 1);
    ProbeModule probe(folder.File(L"probe.dll"), Scrambled(cabinet));
    ProgressRecorder bar;
    ASSERT_EQ(DropPayload(probe.Get(), folder.File(L"one.dat").c_str(), &bar), 1);
    EXPECT_EQ(bar.Positions(), std::vector<int>{50});

    ASSERT_EQ(DropPayload(probe.Get(), folder.File(L"quiet.dat").c_str(), nullptr), 1);
    EXPECT_EQ(ReadWholeFile(folder.File(L"quiet.dat")), cabinet);
    EXPECT_EQ(bar.Positions().size(), 1u);
}

TEST(PayloadDrop, ReplacesAnExistingContainer) {
    ScratchFolder folder;
    const std::wstring container = folder.File(L"qarv2009Setup.dat");
    {
        qarv::UniqueFile old(CreateFileW(container.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        const std::vector<std::uint8_t> longer(50000, 0xEE);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(old.get(), longer.data(), 50000, &written, nullptr));
    }
    const std::vector<std::uint8_t> cabinet = RandomBytes(9000, 2);
    ProbeModule probe(folder.File(L"probe.dll"), Scrambled(cabinet));
    ASSERT_EQ(DropPayload(probe.Get(), container.c_str(), nullptr), 1);
    EXPECT_EQ(ReadWholeFile(container), cabinet);
}

TEST(PayloadDrop, MissingPayloadOrFolderFailsWithNothingCreated) {
    ScratchFolder folder;
    ProbeModule withoutPayload(folder.File(L"probe.dll"), {});
    ProgressRecorder bar;
    const std::wstring container = folder.File(L"qarv2009Setup.dat");
    EXPECT_EQ(DropPayload(withoutPayload.Get(), container.c_str(), &bar), 0);
    EXPECT_FALSE(PathExists(container));

    ProbeModule withPayload(folder.File(L"probe2.dll"), Scrambled(RandomBytes(5000, 3)));
    const std::wstring missingFolder = folder.File(L"missing");
    EXPECT_EQ(DropPayload(withPayload.Get(), (missingFolder + L"\\qarv2009Setup.dat").c_str(), &bar), 0);
    EXPECT_FALSE(PathExists(missingFolder));
    EXPECT_EQ(DropPayload(withPayload.Get(), nullptr, &bar), 0);
    EXPECT_TRUE(bar.Positions().empty());
}

TEST(PayloadDrop, DemoPayloadOfThisBuildIsTheKeptCabinet) {
    // This test program carries the launcher's resources: the payload the packer made.
    ScratchFolder folder;
    const std::wstring container = folder.File(L"qarv2009Setup.dat");
    ProgressRecorder bar;
    ASSERT_EQ(DropPayload(GetModuleHandleW(nullptr), container.c_str(), &bar), 1);
    const std::vector<std::uint8_t> dropped = ReadWholeFile(container);
    const std::vector<std::uint8_t> kept = ReadWholeFile(qarv::test::FromUnixPath(QARV_PAYLOAD_CABINET));
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(dropped, kept);
    ASSERT_GE(dropped.size(), 4u);
    EXPECT_EQ(std::string(dropped.begin(), dropped.begin() + 4), "MSCF");
    EXPECT_EQ(bar.Positions().back(), 50);
}

// Two pages: the first readable, the second not.
class UnreadablePage {
public:
    UnreadablePage() {
        m_base = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 2 * 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        std::fill(m_base, m_base + 4096, 0x5A);
        DWORD old = 0;
        VirtualProtect(m_base + 4096, 4096, PAGE_NOACCESS, &old);
    }
    ~UnreadablePage() { VirtualFree(m_base, 0, MEM_RELEASE); }
    const std::uint8_t* Readable() const { return m_base; }
    const std::uint8_t* Unreadable() const { return m_base + 4096; }

private:
    std::uint8_t* m_base;
};

TEST(PayloadGuardedCopy, FaultWhileReadingIsAPlainFailure) {
    UnreadablePage pages;
    std::vector<std::uint8_t> target(8192, 0);
    EXPECT_EQ(CopyGuarded(target.data(), pages.Unreadable(), 4096), 0);
    // Running into the unreadable page halfway.
    EXPECT_EQ(CopyGuarded(target.data(), pages.Readable(), 8192), 0);
    // The guard is gone afterwards and ordinary copies work.
    EXPECT_EQ(CopyGuarded(target.data(), pages.Readable(), 4096), 1);
    EXPECT_EQ(target[4095], 0x5A);
}

TEST(PayloadGuardedCopy, DropOfUnreadablePayloadFailsWithTheContainerClosed) {
    UnreadablePage pages;
    ScratchFolder folder;
    ProgressRecorder bar;
    const std::wstring container = folder.File(L"qarv2009Setup.dat");
    EXPECT_EQ(DropPayloadBytes(pages.Readable(), 8192, container.c_str(), &bar), 0);
    EXPECT_TRUE(FileIsClosed(container));
    EXPECT_TRUE(ReadWholeFile(container).empty());
    EXPECT_TRUE(bar.Positions().empty());

    // The process and the next drop carry on as usual.
    const std::vector<std::uint8_t> cabinet = RandomBytes(6000, 4);
    const std::vector<std::uint8_t> payload = Scrambled(cabinet);
    EXPECT_EQ(DropPayloadBytes(payload.data(), 6000, container.c_str(), &bar), 1);
    EXPECT_EQ(ReadWholeFile(container), cabinet);
}

// A write that faults on its third chunk, after writing it, as a fault inside the loop would.
int g_writesBeforeFault = 0;
const std::uint8_t* g_unreadable = nullptr;
BOOL WINAPI WriteThatFaults(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    const BOOL result = WriteFile(file, bytes, size, written, overlapped);
    if (--g_writesBeforeFault == 0) *written = *static_cast<const volatile std::uint8_t*>(g_unreadable);
    return result;
}

TEST(PayloadGuardedWrite, FaultInsideTheWriteLoopFailsTheDropWithTheContainerClosed) {
    UnreadablePage pages;
    g_unreadable = pages.Unreadable();
    ScratchFolder folder;
    ProgressRecorder bar;
    const std::wstring container = folder.File(L"qarv2009Setup.dat");
    const std::vector<std::uint8_t> cabinet = RandomBytes(5 * 4096, 9);
    const std::vector<std::uint8_t> payload = Scrambled(cabinet);
    {
        qarv::PlatformCallsScope<PayloadDropperPlatformCalls> calls({WriteThatFaults});
        g_writesBeforeFault = 3;
        EXPECT_EQ(DropPayloadBytes(payload.data(), static_cast<DWORD>(payload.size()), container.c_str(), &bar), 0);
    }
    EXPECT_TRUE(FileIsClosed(container));
    EXPECT_EQ(ReadWholeFile(container), std::vector<std::uint8_t>(cabinet.begin(), cabinet.begin() + 3 * 4096));
    EXPECT_EQ(bar.Positions(), (std::vector<int>{10, 20})) << "the bar keeps the last position sent";
    // The process and the next drop carry on as usual.
    EXPECT_EQ(DropPayloadBytes(payload.data(), static_cast<DWORD>(payload.size()), container.c_str(), &bar), 1);
    EXPECT_EQ(ReadWholeFile(container), cabinet);
}

TEST(PayloadProgress, PositionIsExactBeyondThe32BitProduct) {
    ProgressRecorder bar;
    // 90,000,000 x 50 does not fit in 32 bits.
    EXPECT_EQ(ReportDropProgress(90000000, 100000000, &bar), 1);
    EXPECT_EQ(ReportDropProgress(4096, 24252328, &bar), 1);
    EXPECT_EQ(ReportDropProgress(24252328, 24252328, &bar), 1);
    EXPECT_EQ(bar.Positions(), (std::vector<int>{45, 0, 50}));
    EXPECT_EQ(ReportDropProgress(10, 0, &bar), 1);
    EXPECT_EQ(ReportDropProgress(10, 20, nullptr), 1);
    EXPECT_EQ(bar.Positions().size(), 3u);
}

}  // namespace

namespace {

// The i686 launcher that ships is not run here (no 32-bit Wine), but its payload is a resource
// like any other: find it in language 1033 and drop it from the image loaded as a data file.
TEST(PayloadShippedLauncher, CarriesItsPayloadInEnglishUs) {
    const std::string shipped = QARV_I686_LAUNCHER;
    if (shipped.empty()) GTEST_SKIP() << "this build was configured without the i686 launcher";
    const std::wstring launcher = qarv::test::FromUnixPath(shipped);
    HMODULE image = LoadLibraryExW(launcher.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr) << "cannot load the i686 launcher as a data file";
    qarv::ScopeExit unload([image] { FreeLibrary(image); });
    EXPECT_NE(FindResourceExW(image, RT_RCDATA, MAKEINTRESOURCEW(129), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
              nullptr);

    ScratchFolder folder;
    const std::wstring container = folder.File(L"qarv2009Setup.dat");
    ASSERT_EQ(DropPayload(image, container.c_str(), nullptr), 1);
    // Its build keeps the cabinet beside the launcher's bin folder.
    const std::string root = shipped.substr(0, shipped.rfind("/bin/"));
    const std::vector<std::uint8_t> kept = ReadWholeFile(qarv::test::FromUnixPath(root + "/payload/qarv_payload.cab"));
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(ReadWholeFile(container), kept);
}

}  // namespace
