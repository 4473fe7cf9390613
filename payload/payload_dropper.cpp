// Writing the scrambled payload resource to the container file, descrambled chunk by chunk.
#include "payload/payload_dropper.h"

#include <commctrl.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "common/platform_calls.h"
#include "common/unique_handle.h"
#include "res/resource_ids.h"
#include "payload/progress_target.h"

namespace qarv {

namespace {

constexpr DWORD kRoutineCompleted = 1;
constexpr DWORD kRoutineFaulted = 0;

// The guarded thread while its routine runs; 0 at any other time. Guarded routines run one at a
// time (g_guardedRunLock), so one id is enough.
std::atomic<DWORD> g_guardedThreadId{0};
std::mutex g_guardedRunLock;

struct GuardedJob {
    int (*routine)(void*);
    void* context;
};

DWORD WINAPI GuardedThreadProc(void* argument) {
    const auto* job = static_cast<const GuardedJob*>(argument);
    // Armed for the routine alone. The thread's start-up runs each DLL's thread notification under
    // the loader lock; a fault there is the loader's to handle, and ending the thread in the middle
    // of it would leave the lock held for good.
    g_guardedThreadId.store(GetCurrentThreadId());
    const int result = job->routine(job->context);
    g_guardedThreadId.store(0);
    return result ? kRoutineCompleted : kRoutineFaulted;
}

// Any exception on the guarded thread ends it. Its routines own nothing (every handle and block
// they use belongs to the thread that waits for them), so ending it right here leaks nothing; its
// exit code tells the waiting thread that the routine did not complete.
LONG CALLBACK EndFaultedRoutine(EXCEPTION_POINTERS*) {
    const DWORD guardedThread = g_guardedThreadId.load();
    if (guardedThread != 0 && GetCurrentThreadId() == guardedThread) ExitThread(kRoutineFaulted);
    return EXCEPTION_CONTINUE_SEARCH;
}

struct CopyJob {
    void* destination;
    const void* source;
    std::size_t size;
};

int CopyRoutine(void* argument) {
    const auto* job = static_cast<const CopyJob*>(argument);
    std::memcpy(job->destination, job->source, job->size);
    return 1;
}

// The write loop's state: the container file and the heap copy belong to DropPayloadBytes, which
// closes and frees them however the loop ends.
struct WriteJob {
    HANDLE file;
    std::uint8_t* copy;
    DWORD size;
    ProgressTarget* dialog;
};

int WriteRoutine(void* argument) {
    const auto* job = static_cast<const WriteJob*>(argument);
    const auto writeFile = qarv::ReplacedOrReal(qarv::InstalledPlatformCalls<PayloadDropperPlatformCalls>().writeFile,
                                                &WriteFile);
    DWORD written = 0;
    DWORD remaining = job->size;
    std::uint8_t* cursor = job->copy;
    while (remaining != 0) {
        const DWORD chunkLength = remaining >= kPayloadChunkSize ? kPayloadChunkSize : remaining;
        remaining -= chunkLength;
        DescrambleChunk(cursor, chunkLength);
        DWORD chunkWritten = 0;
        // The count decides, not the result: any chunk not written in full fails the drop.
        writeFile(job->file, cursor, chunkLength, &chunkWritten, nullptr);
        if (chunkWritten != chunkLength) return 0;
        written += chunkLength;
        if (!ReportDropProgress(written, job->size, job->dialog)) return 0;
        cursor += chunkLength;
    }
    return 1;
}

}  // namespace

int RunGuarded(int (*routine)(void*), void* context) {
    if (routine == nullptr) return 0;
    std::lock_guard<std::mutex> lock(g_guardedRunLock);

    void* handler = AddVectoredExceptionHandler(1, EndFaultedRoutine);
    if (handler == nullptr) return 0;
    qarv::ScopeExit removeHandler([handler] { RemoveVectoredExceptionHandler(handler); });

    GuardedJob job{routine, context};
    DWORD threadId = 0;
    // The write loop's progress messages and file writes run here too; 256 KiB is far more than
    // either needs.
    qarv::UniqueKernelHandle thread(CreateThread(nullptr, 256 * 1024, GuardedThreadProc, &job,
                                                 CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, &threadId));
    if (!thread) return 0;
    // A faulted routine ends its thread before it can disarm the handler.
    qarv::ScopeExit clearThreadId([] { g_guardedThreadId.store(0); });
    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        // It never ran and touched nothing.
        TerminateThread(thread.get(), kRoutineFaulted);
        WaitForSingleObject(thread.get(), INFINITE);
        return 0;
    }
    // Messages the routine sends to windows of this thread (a caller that owns the progress
    // target) are answered while it waits; nothing else is taken from the queue.
    const HANDLE waitFor = thread.get();
    while (MsgWaitForMultipleObjects(1, &waitFor, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    DWORD exitCode = kRoutineFaulted;
    if (!GetExitCodeThread(thread.get(), &exitCode)) return 0;
    return exitCode == kRoutineCompleted ? 1 : 0;
}

int CopyGuarded(void* destination, const void* source, std::size_t size) {
    if (size == 0) return 1;
    if (destination == nullptr || source == nullptr) return 0;
    CopyJob job{destination, source, size};
    return RunGuarded(CopyRoutine, &job);
}

int ReportDropProgress(DWORD bytesWritten, DWORD total, ProgressTarget* dialog) {
    if (dialog == nullptr || total == 0) return 1;
    // 64-bit product: a 32-bit one wraps for payloads above 85,899,345 bytes and sends the bar
    // backwards.
    const auto position = static_cast<WPARAM>(static_cast<unsigned long long>(bytesWritten) * 50u / total);
    SendMessageW(dialog->ProgressBarWindow(), PBM_SETPOS, position, 0);
    return 1;
}

int DropPayloadBytes(const void* payload, DWORD size, const wchar_t* containerPath, ProgressTarget* dialog) {
    if (payload == nullptr || size == 0 || containerPath == nullptr) return 0;

    qarv::UniqueFile file(CreateFileW(containerPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;

    // The one extra copy of the payload; descrambled in place, freed on every path.
    auto* copy = static_cast<std::uint8_t*>(HeapAlloc(GetProcessHeap(), 0, size));
    if (copy == nullptr) return 0;
    qarv::ScopeExit freeCopy([copy] { HeapFree(GetProcessHeap(), 0, copy); });

    // Guard A: the copy out of the resource memory.
    if (!CopyGuarded(copy, payload, size)) return 0;
    // Guard B: descrambling, writing and the progress messages. A fault there fails the drop; the
    // file is closed and the copy freed here either way.
    WriteJob job{file.get(), copy, size, dialog};
    return RunGuarded(WriteRoutine, &job);
}

int DropPayload(HMODULE module, const wchar_t* containerPath, ProgressTarget* dialog) {
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(IDR_PAYLOAD), RT_RCDATA);
    if (resource == nullptr) return 0;
    const DWORD size = SizeofResource(module, resource);
    if (size == 0) return 0;
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) return 0;
    const void* bytes = LockResource(loaded);
    if (bytes == nullptr) return 0;
    return DropPayloadBytes(bytes, size, containerPath, dialog);
}

}  // namespace qarv
