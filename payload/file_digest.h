// The MD5 digest of a file through CryptoAPI, as 32 upper-case hexadecimal digits.
#pragma once

#include <windows.h>
#include <wincrypt.h>

namespace qarv {

// Capacity of the digest text buffer, in wide characters.
constexpr int kDigestTextCapacity = 90;

// Computes the MD5 of the file at `path` into `digestText` (kDigestTextCapacity characters, zero-filled
// behind the 32 digits). Returns 1 on success; 0 on any failure, with `digestText` untouched. The
// provider, the hash and the file are released on every path. Called on the setup worker thread.
int ComputeFileMd5(const wchar_t* path, wchar_t* digestText);

// The platform calls of the digest a test may replace (common/platform_calls.h): the provider
// acquisition, for a provider that fails in ways a real one will not on demand. Null: the real call.
struct FileDigestPlatformCalls {
    BOOL(WINAPI* cryptAcquireContext)(HCRYPTPROV*, LPCWSTR, LPCWSTR, DWORD, DWORD) = nullptr;
};

}  // namespace qarv
