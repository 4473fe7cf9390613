// Writing the scrambled payload resource (RT_RCDATA 129) to the container file, descrambled.
#pragma once

#include <windows.h>

class ProgressTarget;

// Writes the descrambled payload of `module` to `containerPath`, moving the progress bar of
// `dialog` (may be null) from 0 to 50. Returns 1 when the container file is complete, else 0.
int DropPayload(HMODULE module, const wchar_t* containerPath, ProgressTarget* dialog);
