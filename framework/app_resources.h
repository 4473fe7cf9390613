// Strings, the application name and message boxes: the framework's resource-facing helpers.
#pragma once

#include <windows.h>

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
// owner may belong to another thread, as the setup worker's boxes over the dialog do. On a window
// station that is not visible no box is shown and the result is IDOK at once, as if answered.
int AppMessageBox(HWND owner, UINT stringId, UINT iconStyle);

// The same box, built in fixed buffers: it allocates nothing and throws nothing, so it can report
// an allocation failure. A text or caption too long for its buffer is cut.
int AppMessageBoxNoAlloc(HWND owner, UINT stringId, UINT iconStyle) noexcept;

}  // namespace qarv
