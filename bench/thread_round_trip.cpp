// A native Linux program, built and run on the bench's host: the time of a synchronous round trip
// between two threads (one asks and waits, the other answers), what this machine's kernel and CPUs
// pay for what a cross-thread SendMessage does at its core. run_bench.py sets it beside the drop's
// progress messages under Wine, each of which is such a round trip through the wineserver.
//
//   thread_round_trip
//
// Prints "figure round_trip <best seconds> <median seconds>" per round trip, over five runs.
#include <pthread.h>
#include <semaphore.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr int kTrips = 20000;
constexpr int kRuns = 5;

sem_t g_ask;
sem_t g_answer;

void* Answer(void*) {
    for (int i = 0; i < kTrips; ++i) {
        sem_wait(&g_ask);
        sem_post(&g_answer);
    }
    return nullptr;
}

}  // namespace

int main() {
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
        sem_init(&g_ask, 0, 0);
        sem_init(&g_answer, 0, 0);
        pthread_t thread;
        if (pthread_create(&thread, nullptr, Answer, nullptr) != 0) return 1;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kTrips; ++i) {
            sem_post(&g_ask);
            sem_wait(&g_answer);
        }
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        pthread_join(thread, nullptr);
        sem_destroy(&g_ask);
        sem_destroy(&g_answer);
        times.push_back(elapsed.count() / kTrips);
    }
    std::sort(times.begin(), times.end());
    std::printf("figure round_trip %.9f %.9f\n", times.front(), times[times.size() / 2]);
    return 0;
}
