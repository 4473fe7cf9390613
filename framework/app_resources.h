// Strings, the application name and message boxes: the framework's resource-facing helpers.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace qarv {

// The module that carries the dialog templates, strings and icon: the running executable.
HMODULE ResourceModule();

// The string-table text for `id`, or the empty string when there is none.
std::wstring LoadStringById(UINT id);

// The executable's file name without its extension ("QarvPro 2009 Setup"): the caption of every
// message box. Empty only if the module name cannot be read at all.
std::wstring ApplicationName();

// Shows string `stringId` in a box owned by `owner`, captioned with the application name, with the
// OK button and the given icon style. Blocks until the user closes it. Safe on any thread: the
// owner may belong to another thread, as the setup worker's boxes over the dialog do.
int AppMessageBox(HWND owner, UINT stringId, UINT iconStyle);

// The same box, built in fixed buffers: it allocates nothing and throws nothing, so it can report
// an allocation failure. A text or caption too long for its buffer is cut.
int AppMessageBoxNoAlloc(HWND owner, UINT stringId, UINT iconStyle) noexcept;

// Starts `routine(argument)` on a new thread at normal priority with the default stack. The thread
// handle is not kept. Returns false when the thread could not be started.
bool StartWorkerThread(unsigned(__stdcall* routine)(void*), void* argument);

// The thread start, which Wine cannot be made to refuse on demand. Defaults to the real call; a
// test may replace it and must restore the default with ResetWorkerThreadApi.
struct WorkerThreadApi {
    uintptr_t (*beginThread)(void* security, unsigned stackSize, unsigned(__stdcall* routine)(void*), void* argument,
                             unsigned flags, unsigned* threadId);
};
WorkerThreadApi& WorkerThreadPlatform();
void ResetWorkerThreadApi();

}  // namespace qarv
