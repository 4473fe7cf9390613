// Writing the scrambled payload resource to the container file, descrambled chunk by chunk.
#include "payload/payload_dropper.h"

#include <commctrl.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "common/unique_handle.h"
#include "res/resource_ids.h"
#include "payload/progress_target.h"

namespace {

constexpr DWORD kCopyCompleted = 1;
constexpr DWORD kCopyFaulted = 0;

// The copy thread while it copies; 0 at any other time. Guarded copies run one at a time
// (g_guardedCopyLock), so one id is enough.
std::atomic<DWORD> g_copyThreadId{0};
std::mutex g_guardedCopyLock;

struct CopyJob {
    void* destination;
    const void* source;
    std::size_t size;
};

DWORD WINAPI CopyThreadProc(void* argument) {
    const auto* job = static_cast<const CopyJob*>(argument);
    // Armed for the copy alone. The thread's start-up runs each DLL's thread notification under the
    // loader lock; a fault there is the loader's to handle, and ending the thread in the middle of
    // it would leave the lock held for good.
    g_copyThreadId.store(GetCurrentThreadId());
    std::memcpy(job->destination, job->source, job->size);
    g_copyThreadId.store(0);
    return kCopyCompleted;
}

// Any exception on the copy thread means the source could not be read. The thread holds no lock
// and owns nothing (it only reads one block and writes another), so ending it right here is safe;
// its exit code tells the waiting thread that the copy is incomplete.
LONG CALLBACK EndFaultedCopy(EXCEPTION_POINTERS*) {
    const DWORD copyThread = g_copyThreadId.load();
    if (copyThread != 0 && GetCurrentThreadId() == copyThread) ExitThread(kCopyFaulted);
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

int CopyGuarded(void* destination, const void* source, std::size_t size) {
    if (size == 0) return 1;
    if (destination == nullptr || source == nullptr) return 0;
    std::lock_guard<std::mutex> lock(g_guardedCopyLock);

    void* handler = AddVectoredExceptionHandler(1, EndFaultedCopy);
    if (handler == nullptr) return 0;
    qarv::ScopeExit removeHandler([handler] { RemoveVectoredExceptionHandler(handler); });

    CopyJob job{destination, source, size};
    DWORD threadId = 0;
    qarv::UniqueKernelHandle thread(CreateThread(nullptr, 64 * 1024, CopyThreadProc, &job,
                                                 CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, &threadId));
    if (!thread) return 0;
    // A faulted copy ends its thread before it can disarm the handler.
    qarv::ScopeExit clearThreadId([] { g_copyThreadId.store(0); });
    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        // It never ran and touched nothing.
        TerminateThread(thread.get(), kCopyFaulted);
        WaitForSingleObject(thread.get(), INFINITE);
        return 0;
    }
    WaitForSingleObject(thread.get(), INFINITE);
    DWORD exitCode = kCopyFaulted;
    if (!GetExitCodeThread(thread.get(), &exitCode)) return 0;
    return exitCode == kCopyCompleted ? 1 : 0;
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

    if (!CopyGuarded(copy, payload, size)) return 0;

    DWORD written = 0;
    DWORD remaining = size;
    std::uint8_t* cursor = copy;
    while (remaining != 0) {
        const DWORD chunkLength = remaining >= kPayloadChunkSize ? kPayloadChunkSize : remaining;
        remaining -= chunkLength;
        DescrambleChunk(cursor, chunkLength);
        DWORD chunkWritten = 0;
        // The count decides, not the result: any chunk not written in full fails the drop.
        WriteFile(file.get(), cursor, chunkLength, &chunkWritten, nullptr);
        if (chunkWritten != chunkLength) return 0;
        written += chunkLength;
        if (!ReportDropProgress(written, size, dialog)) return 0;
        cursor += chunkLength;
    }
    return 1;
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
