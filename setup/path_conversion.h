// Converting the ANSI path that the cabinet extraction delivers into a wide path.
#pragma once

// Capacity of the wide program path, terminator included.
constexpr int kWidePathCapacity = 1024;

// Converts `ansiPath` with the system ANSI code page into `widePath` (kWidePathCapacity
// characters). A longer result is cut to kWidePathCapacity - 1 characters; the output is always
// terminated on success. Returns 0 when the conversion fails or memory runs out.
int AnsiPathToWide(const char* ansiPath, wchar_t* widePath);
