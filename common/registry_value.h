// Reading one registry value into a caller's fixed buffer: the key opened (or created) for query,
// then the value's type and size asked before a single byte of it is read.
#pragma once

#include <windows.h>

#include "common/unique_handle.h"

namespace qarv {

// How a reader reaches its key. The launcher's own keys are created empty when missing, as its
// readers always have; a key of the system's is only opened.
enum class RegistryKeyMode { kCreateIfMissing, kOpenExisting };

// `subKey` of `root` with query access only, in the process's own registry view (no KEY_WOW64_*
// flag); empty when it cannot be opened (or created).
UniqueRegKey OpenRegistryKeyToRead(HKEY root, const wchar_t* subKey, RegistryKeyMode mode);
UniqueRegKey OpenRegistryKeyToRead(HKEY root, const char* subKey, RegistryKeyMode mode);

// Accepts a value of whatever type it is stored as.
constexpr DWORD kAnyRegistryType = 0xFFFFFFFF;

// Whether the value must fill the buffer exactly (a double word) or may be shorter (text).
enum class RegistrySize { kUpToCapacity, kExactlyCapacity };

// Reads value `name` of `key` into `buffer` of `capacity` bytes. The type must be `type` (unless
// kAnyRegistryType) both when asked and when read, and with kExactlyCapacity the size must be
// `capacity` both times. The read is offered the stored size, cut to `capacity`: a longer value
// fails with nothing written past the buffer. Returns false on any failure; the buffer then holds
// whatever the read left there, which the caller clears as it needs. The ANSI form reads through
// the system code page, as RegQueryValueExA does.
bool ReadRegistryValue(HKEY key, const wchar_t* name, DWORD type, RegistrySize size, void* buffer, DWORD capacity);
bool ReadRegistryValue(HKEY key, const char* name, DWORD type, RegistrySize size, void* buffer, DWORD capacity);

}  // namespace qarv
