// MD5 of a file: CryptoAPI's default RSA provider, streamed through one 2,048-byte buffer.
#include "payload/file_digest.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cwchar>

#include "common/platform_calls.h"
#include "common/unique_handle.h"

namespace qarv {

namespace {

constexpr size_t kReadBlock = 2048;
constexpr DWORD kMd5Size = 16;
// CryptHashData is given CRYPT_USERDATA (1), as the launcher always has; the default provider
// hashes the bytes the same way.
constexpr DWORD kHashDataFlags = 1;

// The default key container of the user; a new profile has none yet, and the first acquisition
// then fails with NTE_BAD_KEYSET until CRYPT_NEWKEYSET creates it.
bool AcquireProvider(qarv::UniqueCryptProvider& provider) {
    const auto acquireContext =
        qarv::ReplacedOrReal(qarv::InstalledPlatformCalls<FileDigestPlatformCalls>().cryptAcquireContext,
                             &CryptAcquireContextW);
    HCRYPTPROV handle = 0;
    if (acquireContext(&handle, nullptr, nullptr, PROV_RSA_FULL, 0) && handle != 0) {
        provider.reset(handle);
        return true;
    }
    if (GetLastError() != static_cast<DWORD>(NTE_BAD_KEYSET)) return false;
    handle = 0;
    if (acquireContext(&handle, nullptr, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET) && handle != 0) {
        provider.reset(handle);
        return true;
    }
    return false;
}

// Hashes the whole file; false on a read or hash failure. The file is closed before returning.
bool HashFile(HCRYPTHASH hash, const wchar_t* path) {
    FILE* raw = _wfopen(path, L"rb");
    if (raw == nullptr) return false;
    qarv::ScopeExit close([raw] { std::fclose(raw); });
    unsigned char buffer[kReadBlock];
    for (;;) {
        const size_t count = std::fread(buffer, 1, sizeof(buffer), raw);
        if (count == 0) break;
        if (!CryptHashData(hash, buffer, static_cast<DWORD>(count), kHashDataFlags)) return false;
    }
    return std::feof(raw) != 0;
}

}  // namespace

int ComputeFileMd5(const wchar_t* path, wchar_t* digestText) {
    if (digestText == nullptr || path == nullptr) return 0;
    unsigned char digest[kMd5Size] = {};
    {
        qarv::UniqueCryptProvider provider;
        if (!AcquireProvider(provider)) return 0;
        qarv::UniqueCryptHash hash;
        if (!CryptCreateHash(provider.get(), CALG_MD5, 0, 0, hash.put())) return 0;
        if (!HashFile(hash.get(), path)) return 0;

        DWORD hashSize = 0;
        DWORD sizeLength = sizeof(hashSize);
        if (!CryptGetHashParam(hash.get(), HP_HASHSIZE, reinterpret_cast<BYTE*>(&hashSize), &sizeLength, 0) ||
            hashSize != kMd5Size) {
            return 0;
        }
        DWORD digestLength = hashSize;
        if (!CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &digestLength, 0)) return 0;
        // The hash goes before the provider, both before any text is made.
        hash.reset();
        provider.reset();
    }

    // 90 zeroed characters, 32 digits: the bounded append never runs short (the room ends at 57).
    wmemset(digestText, L'\0', kDigestTextCapacity);
    size_t room = kDigestTextCapacity - 1;
    size_t length = 0;
    for (unsigned char byte : digest) {
        wchar_t pair[20] = {};
        std::swprintf(pair, 20, L"%02X", byte);
        const size_t pairLength = std::wcslen(pair);
        const size_t copied = pairLength < room ? pairLength : room;
        std::wmemcpy(digestText + length, pair, copied);
        length += copied;
        digestText[length] = L'\0';
        if (room <= 2) break;
        room -= 2;
    }
    return 1;
}

}  // namespace qarv
