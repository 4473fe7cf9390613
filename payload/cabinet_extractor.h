// Extracting the container cabinet into the work folder through the system's Cabinet.dll (FDI).
// Used only by the setup worker thread: the process-wide buffers below make one extraction at a time.
// Paths stay UTF-16 throughout: the file callbacks are the launcher's own and open files by their
// wide names, so a work folder outside the ANSI code page is reached as it is, never a look-alike.
#pragma once

#include <windows.h>
#include <fdi.h>

#include <string>
#include <vector>

#include "common/unique_handle.h"

namespace qarv {

// Size of the buffer that receives the extracted program's path, in characters, terminator included.
constexpr int kProgramPathCapacity = 260;

// The full paths of the files an extraction created, in the order it created them.
using CreatedFiles = std::vector<std::wstring>;

// Extracts `containerPath` into `workFolder` (with or without a trailing backslash). On success
// returns 1 and writes to `programPath` (kProgramPathCapacity characters) the path of the file
// closed last; on failure returns 0 and leaves `programPath` untouched. Files finished before a
// failure stay. A cabinet that yields no file, a file that already exists in the folder (under any
// name Windows takes for the same file), a write cut short (a full disk) and a cabinet that is
// part of a set (a file continued from or into another cabinet) are failures. With `created`,
// each file is appended to it as it is created, before any of its data is written, so that the
// list also names the files of a failed extraction; a path that cannot be recorded is not created.
int ExtractCabinet(const wchar_t* containerPath, const wchar_t* workFolder, wchar_t* programPath,
                   CreatedFiles* created = nullptr);

// ---- The steps ExtractCabinet is made of, open to tests. ----

// One use of Cabinet.dll: all empty at first, released by ReleaseCabinetApi. The context is
// declared after the library and its error record, so that it is destroyed before either goes.
// FDI keeps the error record's address from FDICreate on and writes to it whenever a later call
// fails, so the record lives exactly as long as the context, at a fixed address: the record can
// be neither copied nor moved.
struct CabinetApi {
    CabinetApi() = default;
    CabinetApi(const CabinetApi&) = delete;
    CabinetApi& operator=(const CabinetApi&) = delete;

    qarv::UniqueModule module;
    decltype(&FDICreate) fdiCreate = nullptr;
    decltype(&FDICopy) fdiCopy = nullptr;
    decltype(&FDIIsCabinet) fdiIsCabinet = nullptr;
    decltype(&FDIDestroy) fdiDestroy = nullptr;
    ERF error = {};
    qarv::UniqueFdiContext context;
};

// A path the extraction takes or makes (the container, a destination folder, a joined file path):
// at most 259 characters and a terminator, or it is refused.
constexpr size_t kCabinetPathCapacity = 260;
// The destination folder's buffer and the last file's: such a path, with room for the backslash
// appended to the folder.
constexpr size_t kCabinetFolderCapacity = kCabinetPathCapacity + 2;

// Process-wide buffers: the container path (filled by OpenCabinet), the destination folder with its
// trailing backslash (filled by CopyCabinet) and the path of the file closed last (filled by
// CabinetNotify).
extern wchar_t ContainerPath[kCabinetPathCapacity];
extern wchar_t CabinetDestFolder[kCabinetFolderCapacity];
extern wchar_t LastExtractedPath[kCabinetFolderCapacity];

// The file FDI is writing: the size the cabinet gives it and what the write callback wrote. FDI
// (Wine's at least) ignores a short count from the write callback, so the count is kept here and
// checked when the file is closed and after the copy.
struct CabinetFileProgress {
    unsigned long expected = 0;
    unsigned long written = 0;
    bool failed = false;
};
extern CabinetFileProgress CurrentFileProgress;

// The name FDICopy is given for the container. The open callback accepts only this name and opens
// ContainerPath by its wide name, so no path goes through a code page and nothing else is opened
// for FDI (not even a "next cabinet" a hostile cabinet names).
constexpr char kContainerToken[] = "<container>";

// Loads Cabinet.dll and resolves FDICreate, FDICopy, FDIIsCabinet and FDIDestroy. Returns 1 when
// all four are there; otherwise 0 with the library unloaded again. Returns 1 at once when the
// record already holds a library.
int LoadCabinetLibrary(CabinetApi& api);

// Creates the FDI context and checks that `containerPath` is a cabinet. Returns 1 with the context
// kept in the record, or 0 with no context.
int OpenCabinet(CabinetApi& api, const wchar_t* containerPath);

// Runs FDICopy of the opened container into `destinationFolder`. Returns 1 and fills `programPath`
// (kProgramPathCapacity characters) when the whole cabinet was extracted and yielded at least one
// file, else 0 with `programPath` untouched. `created` (may be null) as for ExtractCabinet.
int CopyCabinet(CabinetApi& api, const wchar_t* destinationFolder, wchar_t* programPath,
                CreatedFiles* created = nullptr);

// The FDI notification callback: creates each file in CabinetDestFolder, never over an existing
// one, and restores its times and attributes when it is closed. A name flagged UTF-8 (attribute
// 0x80) is decoded as UTF-8, any other through the ANSI code page. A name the file-name rule
// refuses, or a joined path longer than 259 characters, gets -1, which abandons the copy; so do a
// file continued from a previous cabinet and the request for a next cabinet, which FDI would
// otherwise repeat for as long as it is answered 0. The notification's `pv` is the CreatedFiles
// list CopyCabinet was given, or null.
INT_PTR DIAMONDAPI CabinetNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification);

// Destroys the FDI context and unloads the library; leaves the record empty. Safe to repeat.
void ReleaseCabinetApi(CabinetApi& api);

// Where Cabinet.dll is loaded from. The product loads it by full path from the system directory,
// never through the search path: the launcher runs elevated from a downloads folder, where a
// planted Cabinet.dll would otherwise run with those rights.
HMODULE LoadSystemCabinetLibrary();

// The platform calls of the extraction a test may replace (common/platform_calls.h): the library
// load, to hand the extraction a library that lacks an entry or none at all. Null: the real call.
struct CabinetExtractorPlatformCalls {
    HMODULE (*loadCabinetLibrary)() = nullptr;
};

}  // namespace qarv
