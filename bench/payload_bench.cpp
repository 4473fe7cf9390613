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

// One cabinet's bytes, as the launcher finds and writes them, and the scratch folder they go to.
struct Payload {
    std::wstring cabinet;
    std::wstring scratch;
    std::vector<std::uint8_t> plain;
    std::vector<std::uint8_t> scrambled;
    size_t size() const { return plain.size(); }
};

// Best times in seconds, and what the extraction and the digest gave.
struct Figures {
    double descramble = 0, memcpy = 0;
    double drop = 0, copyFile = 0, chunkedWrite = 0, guardedCopy = 0;
    double extract = 0, md5 = 0;
    wchar_t programPath[kProgramPathCapacity] = {};
    wchar_t digest[kDigestTextCapacity] = {};
};

bool LoadPayload(const std::wstring& cabinet, const std::wstring& scratch, Payload& payload) {
    payload.cabinet = cabinet;
    payload.scratch = scratch;
    if (!ReadWholeFile(cabinet, payload.plain) || payload.plain.empty()) {
        std::fprintf(stderr, "payload_bench: cannot read the cabinet\n");
        return false;
    }
    payload.scrambled = payload.plain;
    ScramblePayload(payload.scrambled.data(), payload.size());
    CreateDirectoryW(scratch.c_str(), nullptr);
    return true;
}

// Descrambling the whole payload in memory, and memcpy of the same bytes.
bool TimeDescrambling(const Payload& payload, Figures& figures) {
    const size_t size = payload.size();
    std::vector<std::uint8_t> work(size);
    figures.descramble = BestOf([&](int) { std::memcpy(work.data(), payload.scrambled.data(), size); },
                                [&](int) {
                                    DescramblePayload(work.data(), size);
                                    return true;
                                },
                                "descrambling");
    if (work != payload.plain) {
        std::fprintf(stderr, "payload_bench: descrambling did not give the cabinet back\n");
        return false;
    }
    figures.memcpy = BestOf([&](int) { std::memset(work.data(), 0, size); },
                            [&](int) {
                                std::memcpy(work.data(), payload.scrambled.data(), size);
                                return work[size - 1] == payload.scrambled[size - 1];
                            },
                            "memcpy");
    return true;
}

// The same bytes written in 4,096-byte WriteFile calls, the drop's chunking, without descrambling.
bool WriteInChunks(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
    qarv::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
    if (!file) return false;
    for (size_t offset = 0; offset < bytes.size(); offset += kPayloadChunkSize) {
        const DWORD length = PayloadChunkLength(offset, bytes.size());
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data() + offset, length, &written, nullptr) || written != length) return false;
    }
    return true;
}

// The drop (descramble and write the container file) beside CopyFileW of a file of that size, the
// drop's chunked writes alone and its guarded copy alone; leaves the container for the next steps.
bool TimeDrop(const Payload& payload, Figures& figures) {
    const size_t size = payload.size();
    const std::wstring container = payload.scratch + L"\\qarv2009Setup.dat";
    const std::wstring copied = payload.scratch + L"\\copied.dat";
    const std::wstring chunked = payload.scratch + L"\\chunked.dat";
    figures.drop = BestOf([&](int) { DeleteFileW(container.c_str()); },
                          [&](int) { return DropPayloadBytes(payload.scrambled.data(), static_cast<DWORD>(size),
                                                             container.c_str(), nullptr) == 1; },
                          "the drop");
    figures.copyFile = BestOf([&](int) { DeleteFileW(copied.c_str()); },
                              [&](int) { return CopyFileW(payload.cabinet.c_str(), copied.c_str(), FALSE) != 0; },
                              "CopyFileW");
    figures.chunkedWrite = BestOf([&](int) { DeleteFileW(chunked.c_str()); },
                                  [&](int) { return WriteInChunks(chunked, payload.plain); }, "the chunked write");
    figures.guardedCopy = BestOf([](int) {},
                                 [&](int) {
                                     void* block = HeapAlloc(GetProcessHeap(), 0, size);
                                     if (block == nullptr) return false;
                                     const bool done = CopyGuarded(block, payload.scrambled.data(), size) == 1;
                                     HeapFree(GetProcessHeap(), 0, block);
                                     return done;
                                 },
                                 "the guarded copy");
    std::vector<std::uint8_t> dropped;
    if (!ReadWholeFile(container, dropped) || dropped != payload.plain) {
        std::fprintf(stderr, "payload_bench: the dropped container differs from the cabinet\n");
        return false;
    }
    return true;
}

// Extraction of the dropped container into a fresh folder each time, and the digest of the
// container (the largest file at hand).
void TimeExtractionAndDigest(const Payload& payload, Figures& figures) {
    const std::wstring container = payload.scratch + L"\\qarv2009Setup.dat";
    std::wstring folder;
    figures.extract = BestOf(
        [&](int i) {
            folder = payload.scratch + L"\\extract" + std::to_wstring(i);
            RemoveTree(folder);
            CreateDirectoryW(folder.c_str(), nullptr);
        },
        [&](int) { return ExtractCabinet(container.c_str(), folder.c_str(), figures.programPath) == 1; },
        "the extraction");
    figures.md5 = BestOf([](int) {}, [&](int) { return ComputeFileMd5(container.c_str(), figures.digest) == 1; },
                         "the digest");
}

// The "figure" lines run_bench.py reads, then the table for a reader.
void PrintFigures(size_t size, const Figures& figures) {
    Figure("bytes", static_cast<double>(size));
    Figure("descramble", figures.descramble);
    Figure("memcpy", figures.memcpy);
    Figure("drop", figures.drop);
    Figure("copyfile", figures.copyFile);
    Figure("chunked_write", figures.chunkedWrite);
    Figure("guarded_copy", figures.guardedCopy);
    Figure("extract", figures.extract);
    Figure("md5", figures.md5);
    char programPathUtf8[4 * kProgramPathCapacity] = {};
    WideCharToMultiByte(CP_UTF8, 0, figures.programPath, -1, programPathUtf8, sizeof(programPathUtf8), nullptr,
                        nullptr);
    std::printf("program %s\n", programPathUtf8);
    std::wprintf(L"digest %ls\n", figures.digest);

    const double megabytes = static_cast<double>(size) / 1e6;
    std::printf("\n%zu bytes, best of %d runs\n", size, kRepeats);
    std::printf("  descrambling  %8.3f ms  %7.2f GB/s   memcpy   %8.3f ms  %7.2f GB/s   ratio %.2f\n",
                figures.descramble * 1e3, megabytes / figures.descramble / 1e3, figures.memcpy * 1e3,
                megabytes / figures.memcpy / 1e3, figures.descramble / figures.memcpy);
    std::printf("  drop          %8.3f ms               CopyFileW %8.3f ms               ratio %.2f\n",
                figures.drop * 1e3, figures.copyFile * 1e3, figures.drop / figures.copyFile);
    std::printf("  4 KiB writes  %8.3f ms\n", figures.chunkedWrite * 1e3);
    std::printf("  guarded copy  %8.3f ms\n", figures.guardedCopy * 1e3);
    std::printf("  extraction    %8.3f ms\n", figures.extract * 1e3);
    std::printf("  digest        %8.3f ms  %7.1f MB/s\n", figures.md5 * 1e3, megabytes / figures.md5);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: payload_bench CABINET SCRATCH_FOLDER\n");
        return 2;
    }
    Payload payload;
    if (!LoadPayload(argv[1], argv[2], payload)) return 1;
    Figures figures;
    if (!TimeDescrambling(payload, figures) || !TimeDrop(payload, figures)) return 1;
    TimeExtractionAndDigest(payload, figures);
    PrintFigures(payload.size(), figures);
    RemoveTree(payload.scratch);
    return 0;
}
