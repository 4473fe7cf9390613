// Times the launcher's payload stages on one cabinet, each beside the plain system operation it
// should approach: descrambling against memcpy of the same bytes, the drop against CopyFileW (and
// against the same bytes written in the drop's 4,096-byte WriteFile calls),
// extraction and digest on their own (run_bench.py compares those with cabextract and md5sum).
// Usage: payload_bench CABINET SCRATCH_FOLDER. Prints "figure <name> <seconds>" lines, then a table.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "payload/cabinet_extractor.h"
#include "payload/file_digest.h"
#include "payload/payload_dropper.h"
#include "payload/scramble_transform.h"

using namespace qarv;

namespace {

constexpr int kRepeats = 5;

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Best of kRepeats: `prepare` runs untimed before every timed `run`; a run that fails ends the bench.
template <typename Prepare, typename Run>
double BestOf(Prepare prepare, Run run, const char* what) {
    double best = 1e30;
    for (int i = 0; i < kRepeats; ++i) {
        prepare(i);
        const double start = Now();
        const bool ok = run(i);
        const double elapsed = Now() - start;
        if (!ok) {
            std::fprintf(stderr, "payload_bench: %s failed\n", what);
            std::exit(1);
        }
        if (elapsed < best) best = elapsed;
    }
    return best;
}

bool ReadWholeFile(const std::wstring& path, std::vector<std::uint8_t>& bytes) {
    qarv::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFFFFFF) return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    return ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) && read == bytes.size();
}

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

void Figure(const char* name, double seconds) { std::printf("figure %s %.6f\n", name, seconds); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: payload_bench CABINET SCRATCH_FOLDER\n");
        return 2;
    }
    const std::wstring cabinet = argv[1];
    const std::wstring scratch = argv[2];
    CreateDirectoryW(scratch.c_str(), nullptr);

    std::vector<std::uint8_t> plain;
    if (!ReadWholeFile(cabinet, plain) || plain.empty()) {
        std::fprintf(stderr, "payload_bench: cannot read the cabinet\n");
        return 1;
    }
    const size_t size = plain.size();
    std::vector<std::uint8_t> scrambled(plain);
    ScramblePayload(scrambled.data(), size);
    std::vector<std::uint8_t> work(size);

    // Descrambling the whole payload in memory, and memcpy of the same bytes.
    const double descramble = BestOf([&](int) { std::memcpy(work.data(), scrambled.data(), size); },
                                     [&](int) {
                                         DescramblePayload(work.data(), size);
                                         return true;
                                     },
                                     "descrambling");
    if (work != plain) {
        std::fprintf(stderr, "payload_bench: descrambling did not give the cabinet back\n");
        return 1;
    }
    const double copy = BestOf([&](int) { std::memset(work.data(), 0, size); },
                               [&](int) {
                                   std::memcpy(work.data(), scrambled.data(), size);
                                   return work[size - 1] == scrambled[size - 1];
                               },
                               "memcpy");

    // The drop (descramble and write the container file), and CopyFileW of a file of that size.
    const std::wstring container = scratch + L"\\qarv2009Setup.dat";
    const std::wstring copied = scratch + L"\\copied.dat";
    const double drop = BestOf([&](int) { DeleteFileW(container.c_str()); },
                               [&](int) { return DropPayloadBytes(scrambled.data(), static_cast<DWORD>(size),
                                                                  container.c_str(), nullptr) == 1; },
                               "the drop");
    const double copyFile = BestOf([&](int) { DeleteFileW(copied.c_str()); },
                                   [&](int) { return CopyFileW(cabinet.c_str(), copied.c_str(), FALSE) != 0; },
                                   "CopyFileW");
    // The same bytes written in 4,096-byte WriteFile calls, the drop's chunking, without descrambling.
    const std::wstring chunked = scratch + L"\\chunked.dat";
    const double chunkedWrite = BestOf([&](int) { DeleteFileW(chunked.c_str()); },
                                       [&](int) {
                                           qarv::UniqueFile file(CreateFileW(chunked.c_str(), GENERIC_WRITE, 0, nullptr,
                                                                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
                                           if (!file) return false;
                                           for (size_t offset = 0; offset < size; offset += kPayloadChunkSize) {
                                               const DWORD length = PayloadChunkLength(offset, size);
                                               DWORD written = 0;
                                               if (!WriteFile(file.get(), plain.data() + offset, length, &written, nullptr) ||
                                                   written != length) {
                                                   return false;
                                               }
                                           }
                                           return true;
                                       },
                                       "the chunked write");
    // The drop's guarded copy of the payload into a fresh heap block, on its own.
    const double guardedCopy = BestOf([](int) {},
                                      [&](int) {
                                          void* block = HeapAlloc(GetProcessHeap(), 0, size);
                                          if (block == nullptr) return false;
                                          const bool copied = CopyGuarded(block, scrambled.data(), size) == 1;
                                          HeapFree(GetProcessHeap(), 0, block);
                                          return copied;
                                      },
                                      "the guarded copy");
    std::vector<std::uint8_t> dropped;
    if (!ReadWholeFile(container, dropped) || dropped != plain) {
        std::fprintf(stderr, "payload_bench: the dropped container differs from the cabinet\n");
        return 1;
    }

    // Extraction of the dropped container into a fresh folder each time.
    wchar_t programPath[kProgramPathCapacity] = {};
    std::wstring folder;
    const double extract = BestOf(
        [&](int i) {
            folder = scratch + L"\\extract" + std::to_wstring(i);
            RemoveTree(folder);
            CreateDirectoryW(folder.c_str(), nullptr);
        },
        [&](int) { return ExtractCabinet(container.c_str(), folder.c_str(), programPath) == 1; }, "the extraction");

    // The digest of the container (the largest file at hand).
    wchar_t digest[kDigestTextCapacity] = {};
    const double md5 = BestOf([](int) {}, [&](int) { return ComputeFileMd5(container.c_str(), digest) == 1; },
                              "the digest");

    Figure("bytes", static_cast<double>(size));
    Figure("descramble", descramble);
    Figure("memcpy", copy);
    Figure("drop", drop);
    Figure("copyfile", copyFile);
    Figure("chunked_write", chunkedWrite);
    Figure("guarded_copy", guardedCopy);
    Figure("extract", extract);
    Figure("md5", md5);
    char programPathUtf8[4 * kProgramPathCapacity] = {};
    WideCharToMultiByte(CP_UTF8, 0, programPath, -1, programPathUtf8, sizeof(programPathUtf8), nullptr, nullptr);
    std::printf("program %s\n", programPathUtf8);
    std::wprintf(L"digest %ls\n", digest);

    const double megabytes = static_cast<double>(size) / 1e6;
    std::printf("\n%zu bytes, best of %d runs\n", size, kRepeats);
    std::printf("  descrambling  %8.3f ms  %7.2f GB/s   memcpy   %8.3f ms  %7.2f GB/s   ratio %.2f\n",
                descramble * 1e3, megabytes / descramble / 1e3, copy * 1e3, megabytes / copy / 1e3, descramble / copy);
    std::printf("  drop          %8.3f ms               CopyFileW %8.3f ms               ratio %.2f\n", drop * 1e3,
                copyFile * 1e3, drop / copyFile);
    std::printf("  4 KiB writes  %8.3f ms\n", chunkedWrite * 1e3);
    std::printf("  guarded copy  %8.3f ms\n", guardedCopy * 1e3);
    std::printf("  extraction    %8.3f ms\n", extract * 1e3);
    std::printf("  digest        %8.3f ms  %7.1f MB/s\n", md5 * 1e3, megabytes / md5);

    RemoveTree(scratch);
    return 0;
}
