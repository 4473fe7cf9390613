// Starting a worker thread through the runtime library, so the thread's C runtime state is set up.
#include "framework/worker_thread.h"

#include <windows.h>
#include <process.h>

#include "common/platform_calls.h"
#include "common/unique_handle.h"

namespace qarv {

bool StartWorkerThread(unsigned(__stdcall* routine)(void*), void* argument) {
    const auto beginThread =
        ReplacedOrReal(InstalledPlatformCalls<WorkerThreadPlatformCalls>().beginThread, &_beginthreadex);
    const uintptr_t thread = beginThread(nullptr, 0, routine, argument, 0, nullptr);
    if (thread == 0) return false;
    // The thread runs on without its handle.
    const UniqueKernelHandle threadHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

}  // namespace qarv
