// The design floor of the payload drop, and the launcher's drop beside it, measured alone: a fresh
// heap block of the payload's size filled by one copy, the bytes written in 4,096-byte WriteFile
// calls, and one synchronous PBM_SETPOS per chunk to a progress bar owned by another thread (as
// the dialog's bar is). The source is a fresh, untouched view of the cabinet file each time, as
// the launcher's resource is in a fresh process.
//
//   drop_floor.exe CABINET SCRATCH_FOLDER [--floor-only]
//
// Prints "figure <name> <best seconds> <median seconds>" for the floor, each of its three parts
// alone, and the launcher's DropPayloadBytes with the same kind of bar; with --floor-only, one
// run of the floor alone. Needs a display.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "payload/payload_dropper.h"
#include "payload/scramble_transform.h"
#include "payload/progress_target.h"

using namespace qarv;

namespace {

constexpr int kRepeats = 5;

double Now() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / frequency;
}

// A visible window with a 0..100 progress bar, run by a thread of its own until Stop().
class BarThread : public ProgressTarget {
public:
    BarThread() {
        m_ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_thread = CreateThread(nullptr, 0, &BarThread::Run, this, 0, nullptr);
        WaitForSingleObject(m_ready, 10000);
    }
    ~BarThread() {
        if (m_window) PostMessageW(m_window, WM_CLOSE, 0, 0);
        WaitForSingleObject(m_thread, 10000);
        CloseHandle(m_thread);
        CloseHandle(m_ready);
    }
    HWND ProgressBarWindow() const override { return m_bar; }

private:
    static DWORD WINAPI Run(void* argument) {
        auto* self = static_cast<BarThread*>(argument);
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        self->m_window = CreateWindowExW(0, L"STATIC", L"drop floor", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400,
                                         120, nullptr, nullptr, nullptr, nullptr);
        self->m_bar = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 10, 10, 360, 20,
                                      self->m_window, nullptr, nullptr, nullptr);
        SendMessageW(self->m_bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        SetEvent(self->m_ready);
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (message.message == WM_CLOSE) break;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        DestroyWindow(self->m_window);
        return 0;
    }

    HANDLE m_ready = nullptr;
    HANDLE m_thread = nullptr;
    HWND m_window = nullptr;
    HWND m_bar = nullptr;
};

// A fresh read-only view of the whole file, unmapped on destruction.
class FreshView {
public:
    explicit FreshView(const std::wstring& path) {
        qarv::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file) return;
        LARGE_INTEGER size;
        if (!GetFileSizeEx(file.get(), &size)) return;
        qarv::UniqueKernelHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        if (!mapping) return;
        m_view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
        m_size = static_cast<DWORD>(size.QuadPart);
    }
    ~FreshView() {
        if (m_view) UnmapViewOfFile(m_view);
    }
    const void* data() const { return m_view; }
    DWORD size() const { return m_size; }

private:
    void* m_view = nullptr;
    DWORD m_size = 0;
};

struct Timing {
    double best;
    double median;
};

Timing Summary(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return {times.front(), times[times.size() / 2]};
}

// Best and median of `repeats` runs of `run(view)`, each on a fresh view; a failed run ends the bench.
template <typename Run>
Timing Measure(const std::wstring& cabinet, Run run, const char* what, int repeats = kRepeats) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        FreshView view(cabinet);
        if (view.data() == nullptr) {
            std::fprintf(stderr, "drop_floor: cannot map the cabinet\n");
            std::exit(1);
        }
        const double start = Now();
        const bool ok = run(view);
        times.push_back(Now() - start);
        if (!ok) {
            std::fprintf(stderr, "drop_floor: %s failed\n", what);
            std::exit(1);
        }
    }
    return Summary(times);
}

void Figure(const char* name, Timing timing) { std::printf("figure %s %.6f %.6f\n", name, timing.best, timing.median); }

bool WriteChunks(const std::wstring& path, const std::uint8_t* bytes, DWORD size) {
    qarv::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    for (DWORD offset = 0; offset < size; offset += kPayloadChunkSize) {
        const DWORD length = PayloadChunkLength(offset, size);
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes + offset, length, &written, nullptr) || written != length) return false;
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool floorOnly = argc == 4 && std::wcscmp(argv[3], L"--floor-only") == 0;
    if (argc != 3 && !floorOnly) {
        std::fprintf(stderr, "usage: drop_floor CABINET SCRATCH_FOLDER [--floor-only]\n");
        return 2;
    }
    const std::wstring cabinet = argv[1];
    const std::wstring scratch = argv[2];
    CreateDirectoryW(scratch.c_str(), nullptr);
    const std::wstring target = scratch + L"\\qarv2009Setup.dat";
    BarThread bar;
    if (bar.ProgressBarWindow() == nullptr) {
        std::fprintf(stderr, "drop_floor: no progress bar (no display?)\n");
        return 1;
    }
    HWND barWindow = bar.ProgressBarWindow();

    // The floor and the launcher's own drop on the same kind of bar, taken in turns so that a
    // busy machine weighs on both alike. The launcher descrambles: the view holds plain cabinet
    // bytes, so it writes scrambled ones, which costs the same.
    const auto floorRun = [&](const FreshView& view) {
        const DWORD size = view.size();
        auto* block = static_cast<std::uint8_t*>(HeapAlloc(GetProcessHeap(), 0, size));
        if (block == nullptr) return false;
        qarv::ScopeExit freeBlock([block] { HeapFree(GetProcessHeap(), 0, block); });
        std::memcpy(block, view.data(), size);
        qarv::UniqueFile file(CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        for (DWORD offset = 0; offset < size; offset += kPayloadChunkSize) {
            const DWORD length = PayloadChunkLength(offset, size);
            DWORD written = 0;
            if (!WriteFile(file.get(), block + offset, length, &written, nullptr) || written != length) return false;
            SendMessageW(barWindow, PBM_SETPOS, static_cast<WPARAM>((offset + length) * 50ull / size), 0);
        }
        return true;
    };
    const auto launcherRun = [&](const FreshView& view) {
        return DropPayloadBytes(view.data(), view.size(), target.c_str(), &bar) == 1;
    };
    if (floorOnly) {
        // One floor run alone, for payloads so large that a run takes a minute.
        Figure("floor", Measure(cabinet, floorRun, "the floor", 1));
        DeleteFileW(target.c_str());
        RemoveDirectoryW(scratch.c_str());
        return 0;
    }
    const auto copyRun = [&](const FreshView& view) {
        auto* block = static_cast<std::uint8_t*>(HeapAlloc(GetProcessHeap(), 0, view.size()));
        if (block == nullptr) return false;
        std::memcpy(block, view.data(), view.size());
        const bool ok = block[view.size() - 1] == static_cast<const std::uint8_t*>(view.data())[view.size() - 1];
        HeapFree(GetProcessHeap(), 0, block);
        return ok;
    };
    // The writes alone start from bytes already in memory, copied before any run is timed.
    std::vector<std::uint8_t> touched;
    {
        FreshView view(cabinet);
        if (view.data() == nullptr) {
            std::fprintf(stderr, "drop_floor: cannot map the cabinet\n");
            return 1;
        }
        touched.assign(static_cast<const std::uint8_t*>(view.data()),
                       static_cast<const std::uint8_t*>(view.data()) + view.size());
    }
    const auto writesRun = [&](const FreshView& view) { return WriteChunks(target, touched.data(), view.size()); };
    const auto messagesRun = [&](const FreshView& view) {
        const DWORD size = view.size();
        for (DWORD offset = 0; offset < size; offset += kPayloadChunkSize) {
            const DWORD length = PayloadChunkLength(offset, size);
            SendMessageW(barWindow, PBM_SETPOS, static_cast<WPARAM>((offset + length) * 50ull / size), 0);
        }
        return true;
    };
    // Every part in every round, so that a busy moment of the machine weighs on all of them alike
    // and the parts can be set against the floor they make up.
    std::vector<double> floorTimes, launcherTimes, copyTimes, writeTimes, messageTimes;
    for (int i = 0; i < kRepeats; ++i) {
        floorTimes.push_back(Measure(cabinet, floorRun, "the floor", 1).best);
        launcherTimes.push_back(Measure(cabinet, launcherRun, "the launcher's drop", 1).best);
        copyTimes.push_back(Measure(cabinet, copyRun, "the copy", 1).best);
        writeTimes.push_back(Measure(cabinet, writesRun, "the writes", 1).best);
        messageTimes.push_back(Measure(cabinet, messagesRun, "the messages", 1).best);
    }
    const Timing floor = Summary(floorTimes);
    const Timing launcherDrop = Summary(launcherTimes);
    const Timing copy = Summary(copyTimes);
    const Timing writes = Summary(writeTimes);
    const Timing messages = Summary(messageTimes);
    Figure("floor", floor);
    Figure("floor_copy", copy);
    Figure("floor_writes", writes);
    Figure("floor_messages", messages);
    Figure("launcher_drop", launcherDrop);
    DeleteFileW(target.c_str());
    RemoveDirectoryW(scratch.c_str());
    return 0;
}
