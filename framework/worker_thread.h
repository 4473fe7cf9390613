// Starting the thread that does a dialog's long work, and the seam for a start that fails.
#pragma once

#include <cstdint>

namespace qarv {

// Starts `routine(argument)` on a new thread at normal priority with the default stack. The thread
// handle is not kept. Returns false when the thread could not be started.
bool StartWorkerThread(unsigned(__stdcall* routine)(void*), void* argument);

// The platform calls of the thread start a test may replace (common/platform_calls.h): Wine cannot
// be made to refuse a thread on demand. Null: the real call.
struct WorkerThreadPlatformCalls {
    uintptr_t (*beginThread)(void* security, unsigned stackSize, unsigned(__stdcall* routine)(void*), void* argument,
                             unsigned flags, unsigned* threadId) = nullptr;
};

}  // namespace qarv
