// The guarded copy's fault handler covers the copy and nothing else: a fault while the copy thread
// starts up (in a thread notification, run under the loader lock) stays the loader's to handle.
// This program's own TLS callback, run for every new thread, raises that fault on demand.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "payload/payload_dropper.h"

using namespace qarv;

namespace {

constexpr DWORD kStartUpFault = 0xE0515401;

std::atomic<bool> g_raiseInNextThreadAttach{false};
std::atomic<int> g_startUpFaultsRaised{0};

void NTAPI RaiseInThreadAttach(PVOID, DWORD reason, PVOID) {
    if (reason != DLL_THREAD_ATTACH || !g_raiseInNextThreadAttach.exchange(false)) return;
    ++g_startUpFaultsRaised;
    RaiseException(kStartUpFault, 0, 0, nullptr);
}

}  // namespace

// Placed between the runtime's first and last TLS callback entries, so the loader calls it too.
extern "C" {
__attribute__((section(".CRT$XLQ"), used)) PIMAGE_TLS_CALLBACK g_raiseInThreadAttachEntry = RaiseInThreadAttach;
}

namespace {

TEST(PayloadGuardedCopy, FaultInTheCopyThreadsStartUpIsNotTakenForACopyFault) {
    std::vector<std::uint8_t> source(64 * 1024);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<std::uint8_t>(i * 7 + 3);
    std::vector<std::uint8_t> destination(source.size(), 0);

    g_startUpFaultsRaised = 0;
    g_raiseInNextThreadAttach = true;
    const int copied = CopyGuarded(destination.data(), source.data(), source.size());
    g_raiseInNextThreadAttach = false;

    ASSERT_EQ(g_startUpFaultsRaised.load(), 1) << "the copy thread's start-up raised no fault";
    EXPECT_EQ(copied, 1);
    EXPECT_EQ(destination, source);

    // The loader lock was let go: the next thread starts and the next copy works.
    std::vector<std::uint8_t> again(source.size(), 0);
    EXPECT_EQ(CopyGuarded(again.data(), source.data(), source.size()), 1);
    EXPECT_EQ(again, source);
}

}  // namespace
