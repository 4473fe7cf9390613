// Writing the scrambled payload resource (RT_RCDATA 129) to the container file, descrambled.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "payload/scramble_transform.h"

namespace qarv {

class ProgressTarget;

// Writes the descrambled payload of `module` to `containerPath`, moving the progress bar of
// `dialog` (may be null) from 0 to 50. Returns 1 when the container file is complete, else 0.
// A missing or empty payload fails before any file is created. Other failures, a fault while
// copying or writing included, leave the container file closed on disk (empty, or with the
// chunks written so far) and the heap copy freed. Worker thread.
int DropPayload(HMODULE module, const wchar_t* containerPath, ProgressTarget* dialog);

// The drop after the resource lookup: `payload` is the scrambled bytes (`size` > 0), only read.
// DropPayload hands it the resource memory; a test may hand it any memory.
int DropPayloadBytes(const void* payload, DWORD size, const wchar_t* containerPath, ProgressTarget* dialog);

// Runs `routine(context)` on a short-lived thread of its own, with any structured exception on that
// thread (an unreadable page, an image whose backing file went away) ending that thread instead
// of the process. Returns 1 when the routine returned non-zero, 0 when it returned 0 or faulted.
// The routine must own nothing that outlives it: a fault ends it where it stands. One at a time.
int RunGuarded(int (*routine)(void*), void* context);

// Copies `size` bytes from `source` to `destination` under RunGuarded. Returns 1 when every byte
// was copied, 0 on a fault.
int CopyGuarded(void* destination, const void* source, std::size_t size);

// The platform calls of the drop a test may replace (common/platform_calls.h): the write, to make
// the write loop fault, which Wine's own WriteFile never does. Null: the real call.
struct PayloadDropperPlatformCalls {
    BOOL(WINAPI* writeFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) = nullptr;
};

// Moves the bar to floor(bytesWritten * 50 / total). Returns 1 (go on); 0 would ask the drop to
// stop. Sends nothing without a dialog or with a total of 0.
int ReportDropProgress(DWORD bytesWritten, DWORD total, ProgressTarget* dialog);

}  // namespace qarv
