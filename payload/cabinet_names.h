// Path decisions of the cabinet extraction, kept free of Windows calls: how the destination path
// is joined and how a name from the cabinet becomes the name written. Which names are allowed at
// all is payload/file_name_rule.h.
#pragma once

#include <cstddef>

namespace qarv {

// Writes `folder` followed by `name` into `out` (`capacity` characters, terminator included).
// Returns false, leaving `out` an empty string, when the result does not fit.
bool JoinCabinetPath(wchar_t* out, size_t capacity, const wchar_t* folder, const wchar_t* name);

}  // namespace qarv
