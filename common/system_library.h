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

// `name`'s address in `module` as the entry's own function type, or null (also for a null module).
// The detour through void(*)() is the sanctioned cast between function pointer types.
template <typename Entry>
Entry SystemEntry(HMODULE module, const char* name) noexcept {
    if (module == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The same, into `entry`; true when it was found.
template <typename Entry>
bool ResolveSystemEntry(HMODULE module, const char* name, Entry& entry) noexcept {
    entry = SystemEntry<Entry>(module, name);
    return entry != nullptr;
}

}  // namespace qarv
