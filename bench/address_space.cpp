// Walks a process's address space with VirtualQuery and prints its free ranges, largest first:
// what a payload's heap copy can have beside the image that maps the payload.
//
//   address_space.exe              this process, and the largest heap block it can get
//   address_space.exe PROGRAM      PROGRAM started suspended (its image mapped, before any of its
//                                  code runs), then ended; e.g. a launcher with a large payload
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

namespace {

struct Range {
    std::uintptr_t base;
    std::size_t size;
};

// Whether the image's header carries the large-address-aware mark.
bool LargeAddressAware(HANDLE process, const void* imageBase) {
    IMAGE_DOS_HEADER dos{};
    IMAGE_NT_HEADERS nt{};
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, imageBase, &dos, sizeof dos, &read)) return false;
    if (!ReadProcessMemory(process, static_cast<const char*>(imageBase) + dos.e_lfanew, &nt, sizeof nt, &read)) return false;
    return (nt.FileHeader.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE) != 0;
}

// Largest block HeapAlloc hands out, to within 1 MiB: the first fit between 1 MiB and `ceiling`.
std::size_t LargestHeapBlock(std::size_t ceiling) {
    std::size_t low = 0, high = ceiling;  // low succeeds (trivially), high + 1 MiB fails
    while (high - low > (1u << 20)) {
        const std::size_t middle = low + (high - low) / 2;
        void* block = HeapAlloc(GetProcessHeap(), 0, middle);
        if (block != nullptr) {
            HeapFree(GetProcessHeap(), 0, block);
            low = middle;
        } else {
            high = middle;
        }
    }
    return low;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    HANDLE process = GetCurrentProcess();
    PROCESS_INFORMATION started{};
    if (argc == 2) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessW(argv[1], nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                            &started)) {
            std::printf("cannot start the program: error %lu\n", GetLastError());
            return 1;
        }
        process = started.hProcess;
    }

    SYSTEM_INFO info;
    GetSystemInfo(&info);
    std::vector<Range> free;
    std::size_t used = 0;
    const void* imageBase = nullptr;
    std::size_t imageSize = 0;
    MEMORY_BASIC_INFORMATION region;
    // A 32-bit process under 64-bit Windows may reach 4 GiB, above what this process's own
    // GetSystemInfo says; the walk stops where VirtualQueryEx does.
    std::uintptr_t address = reinterpret_cast<std::uintptr_t>(info.lpMinimumApplicationAddress);
    while (VirtualQueryEx(process, reinterpret_cast<void*>(address), &region, sizeof region) == sizeof region &&
           region.RegionSize != 0) {
        if (region.State == MEM_FREE) {
            free.push_back({address, region.RegionSize});
        } else {
            used += region.RegionSize;
            if (region.Type == MEM_IMAGE && imageBase == nullptr) imageBase = region.AllocationBase;
            if (region.Type == MEM_IMAGE && region.AllocationBase == imageBase) imageSize += region.RegionSize;
        }
        if (address + region.RegionSize < address) break;
        address += region.RegionSize;
    }
    std::sort(free.begin(), free.end(), [](const Range& a, const Range& b) { return a.size > b.size; });
    std::size_t totalFree = 0;
    for (const Range& range : free) totalFree += range.size;

    std::printf("pointer      %u bits, large-address-aware %s\n", static_cast<unsigned>(sizeof(void*) * 8),
                imageBase != nullptr && LargeAddressAware(process, imageBase) ? "yes" : "no");
    std::printf("image        %p, %zu bytes\n", imageBase, imageSize);
    std::printf("in use       %zu bytes\n", used);
    std::printf("free         %zu bytes in %zu ranges\n", totalFree, free.size());
    for (std::size_t i = 0; i < free.size() && i < 6; ++i) {
        std::printf("  free range %p - %p  %zu bytes\n", reinterpret_cast<void*>(free[i].base),
                    reinterpret_cast<void*>(free[i].base + free[i].size), free[i].size);
    }
    if (started.hProcess != nullptr) {
        TerminateProcess(started.hProcess, 1);
        WaitForSingleObject(started.hProcess, 10000);
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    } else {
        std::printf("largest heap block %zu bytes\n", LargestHeapBlock(free.empty() ? 0 : free.front().size));
    }
    return 0;
}
