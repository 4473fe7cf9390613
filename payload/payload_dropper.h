// Writing the scrambled payload resource (RT_RCDATA 129) to the container file, descrambled.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "payload/scramble_transform.h"

class ProgressTarget;

// Writes the descrambled payload of `module` to `containerPath`, moving the progress bar of
// `dialog` (may be null) from 0 to 50. Returns 1 when the container file is complete, else 0.
// A missing or empty payload fails before any file is created. Other failures leave the
// container file closed on disk (empty, or with the chunks written so far). Worker thread.
int DropPayload(HMODULE module, const wchar_t* containerPath, ProgressTarget* dialog);

// The drop after the resource lookup: `payload` is the scrambled bytes (`size` > 0), only read.
// DropPayload hands it the resource memory; a test may hand it any memory.
int DropPayloadBytes(const void* payload, DWORD size, const wchar_t* containerPath, ProgressTarget* dialog);

// Copies `size` bytes from `source` to `destination` on a short-lived thread of its own, so that
// a fault while reading `source` (an unreadable page, an image whose backing file went away)
// ends that thread instead of the process. Returns 1 when every byte was copied, 0 on a fault.
int CopyGuarded(void* destination, const void* source, std::size_t size);

// Moves the bar to floor(bytesWritten * 50 / total). Returns 1 (go on); 0 would ask the drop to
// stop. Sends nothing without a dialog or with a total of 0.
int ReportDropProgress(DWORD bytesWritten, DWORD total, ProgressTarget* dialog);
