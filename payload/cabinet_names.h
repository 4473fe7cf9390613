// Path decisions of the cabinet extraction, kept free of Windows calls: where a file named in the
// cabinet may be written, how the destination path is joined, how the container path is split.
#pragma once

#include <cstddef>

// True when `name` (a file name from the cabinet, ANSI bytes) stays inside the destination folder:
// not empty, not absolute or drive-qualified, no ':' (which also names an alternate stream), no
// component made only of dots and spaces ("..", "...", ". ."), no DOS device name (CON, NUL, COM1,
// ...). Both '\' and '/' count as separators. Bytes are scanned one by one, so a trail byte of a
// double-byte code page that equals '\' only ever splits a name further: nothing is let through
// that a byte scan would refuse.
bool IsSafeCabinetEntryName(const char* name);

// Writes `folder` followed by `name` into `out` (`capacity` bytes, terminator included). Returns
// false, leaving `out` an empty string, when the result does not fit.
bool JoinCabinetPath(char* out, size_t capacity, const char* folder, const char* name);

// Splits `containerPath` at its last backslash: `cabinetPath` gets everything up to and including
// it, `cabinetName` everything after it; without a backslash the whole text is the name and the
// path is empty. Both outputs hold `capacity` bytes and are always terminated; a part that does not
// fit makes the function return false with both outputs empty.
bool SplitContainerPath(const char* containerPath, char* cabinetName, char* cabinetPath, size_t capacity);
