// Loading a DLL of the system by its full path in the system directory, never by a bare name that
// the search order could resolve to a copy in the download folder.
#pragma once

#include <windows.h>

#include "common/unique_handle.h"

namespace qarv {

// `fileName` (e.g. L"psapi.dll") from GetSystemDirectoryW's folder, which a 32-bit process on
// 64-bit Windows sees as syswow64. Empty when the directory is unknown, the path does not fit in
// MAX_PATH, or the load fails.
UniqueModule LoadSystemLibrary(const wchar_t* fileName);

}  // namespace qarv
