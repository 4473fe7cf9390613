// Runs of the 32-bit launcher with large payloads: one past the size at which a 32-bit product of
// the bar's arithmetic wraps (the bar only rises, ends the drop at 50, and the files come out
// whole), and one larger than any free range left in the launcher's address space (its heap copy
// cannot be had: the setup error and 1603, never a crash).
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "payload/scramble_transform.h"
#include "tests/support/cabinet_handmade.h"
#include "tests/support/launcher_fixture.h"
#include "tests/support/registry_fixture.h"

using namespace qarv;

namespace {

using namespace qarv::test;

const std::wstring kSetupError = L"C\u00F3 l\u1ED7i trong qu\u00E1 tr\u00ECnh c\u00E0i \u0111\u1EB7t. B\u1EA1n h\u00E3y th\u1EED l\u1EA1i sau!";

// bytesWritten * 50 overflows 32 bits past this many bytes.
constexpr std::uint64_t kWrapSize = 85899345;
// Far enough past it that the chunks written after the wrap take a while to write: a bar that
// falls back is seen by a probe that samples it every 20 ms.
constexpr std::size_t kLargeDataSize = 96u << 20;

// Every 32-bit word holds its own offset: a chunk lost, repeated or out of place shows.
std::string OffsetPattern(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t offset = 0; offset + 4 <= size; offset += 4) {
        const auto value = static_cast<std::uint32_t>(offset);
        data[offset] = static_cast<char>(value);
        data[offset + 1] = static_cast<char>(value >> 8);
        data[offset + 2] = static_cast<char>(value >> 16);
        data[offset + 3] = static_cast<char>(value >> 24);
    }
    return data;
}

std::string ReadFileBytes(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER size{};
    DWORD read = 0;
    if (GetFileSizeEx(file, &size) && size.QuadPart < 0x40000000) {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        if (!ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size()) {
            bytes.clear();
        }
    }
    CloseHandle(file);
    return bytes;
}

// A small program that ends at once by itself: the system's 32-bit hostname.exe.
std::string QuickProgram() {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return ReadFileBytes(std::wstring(system) + L"\\hostname.exe");
}

std::string ScrambledPayload(const std::vector<HandmadeCabinetFile>& files) {
    std::vector<unsigned char> cabinet = MakeHandmadeCabinet(files);
    ScramblePayload(cabinet.data(), cabinet.size());
    return std::string(cabinet.begin(), cabinet.end());
}

class LargePayloadRunTest : public LauncherFixture {
protected:
    void TearDown() override {
        // The extracted data stays in the work folder after a success; it is large.
        if (!m_dataFile.empty()) DeleteFileW(m_dataFile.c_str());
        LauncherFixture::TearDown();
    }

    std::wstring m_dataFile;
};

TEST_F(LargePayloadRunTest, PastTheThirtyTwoBitWrapTheBarOnlyRisesAndTheFilesComeOutWhole) {
    const std::string program = QuickProgram();
    ASSERT_FALSE(program.empty());
    std::string payload;
    {
        const std::string data = OffsetPattern(kLargeDataSize);
        payload = ScrambledPayload({{"data.bin", data}, {"Setup.exe", program}});
    }
    ASSERT_GT(payload.size(), kWrapSize);
    SetHklmDword(L"SOFTWARE\\QarvSetup", L"fAllowDebugPrint", 1);
    const std::wstring launcher = CopyOfLauncher(&payload);
    payload.clear();
    payload.shrink_to_fit();

    LauncherRun run(launcher, 170000);
    HWND dialog = WaitForProgressDialog(run.ProcessId(), 20000);
    ASSERT_NE(dialog, nullptr);
    HWND bar = GetDlgItem(dialog, 1001);
    std::vector<int> positions;
    // Watched until the drop has moved it to 50, or has ended (the trace's second line) without;
    // the bar creeps on from there, a step every few hundred milliseconds.
    WaitUntil(
        [&] {
            DWORD_PTR position = 0;
            if (IsWindow(bar) && SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &position))
                positions.push_back(static_cast<int>(position));
            return (!positions.empty() && positions.back() >= 50) || run.TraceLines().size() >= 2 || run.WaitForExit(0);
        },
        150000);
    DWORD exitCode = 1;
    ASSERT_TRUE(run.WaitForExit(60000, &exitCode)) << "the launcher did not end";
    EXPECT_EQ(exitCode, 0u);

    ASSERT_GE(positions.size(), 10u) << "the drop was not watched";
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end())) << "the bar fell back during the drop";
    EXPECT_EQ(positions.back(), 50) << "the drop ends at 50";

    const std::vector<std::wstring> lines = run.TraceLines();
    ASSERT_EQ(lines.size(), 7u);
    const std::wstring extracted = L"VURoruz: File successfully extracted to ";
    ASSERT_EQ(lines[2].rfind(extracted, 0), 0u);
    const std::wstring programPath = lines[2].substr(extracted.size());
    const std::wstring folder = programPath.substr(0, programPath.rfind(L'\\'));
    m_dataFile = folder + L"\\data.bin";
    EXPECT_TRUE(ReadFileBytes(programPath) == program) << "the program did not come out whole";
    const std::string data = ReadFileBytes(m_dataFile);
    EXPECT_EQ(data.size(), kLargeDataSize);
    EXPECT_TRUE(data == OffsetPattern(kLargeDataSize)) << "the data file did not come out whole";
}

// Only a 32-bit process's address space can be filled: a 64-bit one has room for any payload
// and always finds a range for the copy, so the x86_64 build of these tests leaves this case out.
#if !defined(_WIN64)

// Leaves `process` no free range of `size` bytes, and about half of its free space in smaller
// ranges for the DLLs, threads and heaps of the run: reserves blocks of size / 4 until none is
// left, then frees every other one by address. A freed block is then bounded by reserved ones;
// with the ranges too small for a block on either side, a free range stays under 3 blocks.
// The blocks are taken from the process's own allocator, which knows better than VirtualQuery
// which ranges it can hand out.
void LeaveNoFreeRangeOf(HANDLE process, std::size_t size) {
    const SIZE_T block = (size / 4) & ~static_cast<SIZE_T>(0xFFFF);
    std::vector<void*> blocks;
    while (void* reserved = VirtualAllocEx(process, nullptr, block, MEM_RESERVE, PAGE_NOACCESS)) blocks.push_back(reserved);
    std::sort(blocks.begin(), blocks.end());
    for (std::size_t i = 0; i < blocks.size(); i += 2) VirtualFreeEx(process, blocks[i], 0, MEM_RELEASE);
}

TEST_F(LargePayloadRunTest, PayloadLargerThanAnyFreeRangeEndsWithTheSetupErrorNotACrash) {
    // A good payload: with room for its heap copy this run would succeed, so the error box can
    // only come from the copy that could not be had.
    const std::string program = QuickProgram();
    ASSERT_FALSE(program.empty());
    const std::string payload = ScrambledPayload({{"data.bin", OffsetPattern(48u << 20)}, {"Setup.exe", program}});
    const std::size_t kPayloadSize = payload.size();
    const std::wstring launcher = CopyOfLauncher(&payload);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    std::wstring commandLine = L"\"" + launcher + L"\"";
    ASSERT_TRUE(CreateProcessW(launcher.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                               nullptr, &startup, &started));
    LeaveNoFreeRangeOf(started.hProcess, kPayloadSize);
    EXPECT_EQ(VirtualAllocEx(started.hProcess, nullptr, kPayloadSize, MEM_RESERVE, PAGE_NOACCESS), nullptr)
        << "the address space still holds the payload's copy";
    ResumeThread(started.hThread);

    const MessageBoxSeen box = WaitForMessageBox(started.dwProcessId, 60000);
    EXPECT_NE(box.window, nullptr) << "no error box";
    EXPECT_EQ(box.text, kSetupError);
    if (box.window) DismissMessageBox(box.window);
    const DWORD waited = WaitForSingleObject(started.hProcess, 20000);
    EXPECT_EQ(waited, WAIT_OBJECT_0) << "the launcher must end after the error box";
    if (waited != WAIT_OBJECT_0) TerminateProcess(started.hProcess, 1);
    DWORD exitCode = 0;
    GetExitCodeProcess(started.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 1603u) << "an allocation that fails is a failed stage";
    EXPECT_TRUE(HklmValueExists(kRunKey, kRestartValueName)) << "the next logon tries again";
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
}

#endif  // !_WIN64

}  // namespace
