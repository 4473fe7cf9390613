// The MD5 digest of a file through CryptoAPI, as 32 upper-case hexadecimal digits.
#pragma once

// Capacity of the digest text buffer, in wide characters.
constexpr int kDigestTextCapacity = 90;

// Computes the MD5 of the file at `path` into `digestText` (kDigestTextCapacity characters).
// Returns non-zero on success.
int ComputeFileMd5(const wchar_t* path, wchar_t* digestText);
