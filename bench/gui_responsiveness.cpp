// gui_responsiveness: how quickly the launcher's dialog thread answers throughout a run.
//
//   gui_responsiveness.exe "<path>\QarvPro 2009 Setup.exe"
//
// Starts the launcher, finds its progress dialog and sends it WM_NULL every 10 ms with
// SendMessageTimeout until the dialog is gone, timing each answer. The last 250 ms before the
// dialog disappears are reported apart: that is where the dialog deliberately sleeps 100 ms
// before it closes. As a baseline, the same probe first runs against an idle window of a thread
// of this program. Run it in a test prefix where the product is not installed.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Sample {
    double at;       // ms since the first probe
    double latency;  // ms for the answer, or the time-out
};

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Probes `window` every 10 ms until it is gone or `limitMs` passes.
std::vector<Sample> Probe(HWND window, double limitMs) {
    std::vector<Sample> samples;
    const double start = NowMs();
    while (IsWindow(window) && NowMs() - start < limitMs) {
        const double before = NowMs();
        DWORD_PTR ignored = 0;
        const BOOL answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &ignored);
        // A probe still waiting when the window goes is never answered: that is the end, not a
        // slow answer.
        if (!answered && !IsWindow(window)) break;
        const double after = NowMs();
        samples.push_back({before - start, after - before});
        Sleep(10);
    }
    return samples;
}

double Worst(const std::vector<Sample>& samples, double untilMs) {
    double worst = 0;
    for (const Sample& s : samples)
        if (s.at <= untilMs) worst = std::max(worst, s.latency);
    return worst;
}

double Median(std::vector<Sample> samples) {
    if (samples.empty()) return 0;
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end(),
                     [](const Sample& a, const Sample& b) { return a.latency < b.latency; });
    return samples[samples.size() / 2].latency;
}

struct DialogSearch {
    DWORD processId;
    HWND found;
};

// A named callback: on i686 a lambda does not convert to the stdcall WNDENUMPROC.
BOOL CALLBACK MatchProgressDialog(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<DialogSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && GetDlgItem(window, 1001) != nullptr && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindProgressDialog(DWORD processId) {
    DialogSearch search{processId, nullptr};
    EnumWindows(MatchProgressDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// An idle window on a thread of its own, pumping messages, for the baseline.
std::vector<Sample> BaselineSamples() {
    HWND window = nullptr;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread pump([&] {
        window = CreateWindowExW(0, L"STATIC", L"baseline", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        SetEvent(ready);
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    });
    WaitForSingleObject(ready, INFINITE);
    const std::vector<Sample> samples = Probe(window, 2000);
    PostMessageW(window, WM_QUIT, 0, 0);
    pump.join();
    DestroyWindow(window);
    CloseHandle(ready);
    return samples;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fwprintf(stderr, L"usage: gui_responsiveness.exe <launcher.exe>\n");
        return 2;
    }
    const std::vector<Sample> baseline = BaselineSamples();

    std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        fwprintf(stderr, L"cannot start %ls (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    HWND dialog = nullptr;
    for (int i = 0; i < 3000 && dialog == nullptr; ++i) {
        dialog = FindProgressDialog(process.dwProcessId);
        if (dialog == nullptr) Sleep(10);
    }
    if (dialog == nullptr) {
        fwprintf(stderr, L"the progress dialog did not appear (is the product installed already?)\n");
        TerminateProcess(process.hProcess, 1);
        return 1;
    }
    const std::vector<Sample> run = Probe(dialog, 120000);
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (run.empty()) {
        fwprintf(stderr, L"no answer was measured\n");
        return 1;
    }

    const double end = run.back().at;
    const double worstOutsidePause = Worst(run, end - 250);
    const double baselineWorst = Worst(baseline, 1e12);
    wprintf(L"GUI answer time (WM_NULL every 10 ms, %zu answers over %.0f ms of the run)\n", run.size(), end);
    wprintf(L"  dialog thread, worst outside the closing pause: %.2f ms (aim: 50 ms or less)\n", worstOutsidePause);
    wprintf(L"  dialog thread, worst including the closing pause: %.2f ms (a probe sent as the dialog closes waits out its 2 s limit)\n", Worst(run, 1e12));
    wprintf(L"  dialog thread, median: %.2f ms\n", Median(run));
    wprintf(L"  baseline (idle window of this program), worst: %.2f ms, median: %.2f ms\n", baselineWorst, Median(baseline));
    wprintf(L"  ratio of the worst answers, dialog / baseline: %.2fx\n", baselineWorst > 0 ? worstOutsidePause / baselineWorst : 0.0);
    std::vector<Sample> slowest = run;
    std::sort(slowest.begin(), slowest.end(), [](const Sample& a, const Sample& b) { return a.latency > b.latency; });
    wprintf(L"  slowest answers (ms into the run: ms):");
    for (size_t i = 0; i < slowest.size() && i < 4; ++i) wprintf(L" %.0f: %.1f;", slowest[i].at, slowest[i].latency);
    wprintf(L"\n");
    return 0;
}
