// Keeping DLLs planted beside the launcher out of its process.
#pragma once

namespace qarv {

// Restricts the DLL search of every later load to the system directory, where the system offers
// that, and takes the current directory out of the search otherwise. Called first thing at
// start-up: the launcher usually sits in a downloads folder and runs with administrative rights.
void RestrictDllSearchToSystem();

}  // namespace qarv
