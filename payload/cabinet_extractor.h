// Extracting the container cabinet into the work folder through the system's Cabinet.dll (FDI).
// Used only by the setup worker thread: the three ANSI buffers below make one extraction at a time.
#pragma once

#include <windows.h>
#include <fdi.h>

// Size of the ANSI buffer that receives the extracted program's path, terminator included.
constexpr int kProgramPathCapacity = 260;

// Extracts `containerPath` into `workFolder` (with or without a trailing backslash). On success
// returns 1 and writes to `programPath` (kProgramPathCapacity bytes) the ANSI path of the file closed
// last; on failure returns 0 and leaves `programPath` untouched. Files finished before a failure stay.
int ExtractCabinet(const wchar_t* containerPath, const wchar_t* workFolder, char* programPath);

// ---- The steps ExtractCabinet is made of, open to tests. ----

// One use of Cabinet.dll: all null at first, released by ReleaseCabinetApi.
struct CabinetApi {
    HFDI context = nullptr;
    HMODULE module = nullptr;
    decltype(&FDICreate) fdiCreate = nullptr;
    decltype(&FDICopy) fdiCopy = nullptr;
    decltype(&FDIIsCabinet) fdiIsCabinet = nullptr;
    decltype(&FDIDestroy) fdiDestroy = nullptr;
};

// Process-wide ANSI buffers: the container path (filled by OpenCabinet), the destination folder
// with its trailing backslash (filled by CopyCabinet) and the path of the file closed last (filled
// by CabinetNotify).
extern char ContainerPathAnsi[260];
extern char CabinetDestFolder[262];
extern char LastExtractedPath[262];

// Loads Cabinet.dll and resolves FDICreate, FDICopy, FDIIsCabinet and FDIDestroy. Returns 1 when
// all four are there; otherwise 0 with the library unloaded again. Returns 1 at once when the
// record already holds a library.
int LoadCabinetLibrary(CabinetApi& api);

// Creates the FDI context and checks that `containerPath` is a cabinet. Returns 1 with the context
// kept in the record, or 0 with no context.
int OpenCabinet(CabinetApi& api, const wchar_t* containerPath);

// Runs FDICopy of the opened container into `destinationFolder`. Returns 1 and fills `programPath`
// (kProgramPathCapacity bytes) when the whole cabinet was extracted, else 0 with `programPath`
// untouched.
int CopyCabinet(CabinetApi& api, const wchar_t* destinationFolder, char* programPath);

// The FDI notification callback: creates each file in CabinetDestFolder and restores its times
// and attributes when it is closed. A name that would leave the folder, or a joined path longer
// than 259 bytes, gets -1, which abandons the copy.
INT_PTR DIAMONDAPI CabinetNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification);

// Destroys the FDI context and unloads the library; leaves the record all null. Safe to repeat.
void ReleaseCabinetApi(CabinetApi& api);

// Where Cabinet.dll is loaded from. The product loads it by full path from the system directory,
// never through the search path: the launcher runs elevated from a downloads folder, where a
// planted Cabinet.dll would otherwise run with those rights. A test may point the loader at a
// library of its own and must restore it with ResetCabinetLibraryLoader.
using CabinetLibraryLoader = HMODULE (*)();
HMODULE LoadSystemCabinetLibrary();
void SetCabinetLibraryLoader(CabinetLibraryLoader loader);
void ResetCabinetLibraryLoader();
