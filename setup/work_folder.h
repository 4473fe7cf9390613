// Choosing the work folder by the free space of the Windows drive, and creating it with rights
// that only administrators, the system and the installing user hold.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/unique_handle.h"

namespace qarv {

// Result of ChooseWorkFolder.
using WorkFolderStatus = int;
constexpr WorkFolderStatus kWorkFolderChosen = 0;
constexpr WorkFolderStatus kWorkFolderSystemCallFailed = 1;
constexpr WorkFolderStatus kWorkFolderNoSpareDrive = 2;
constexpr WorkFolderStatus kWorkFolderWindowsDriveFull = 3;

// Free-space thresholds, compared with the low 32 bits of the free byte count; a non-zero high
// part (4 GiB or more) beats every one of them.
constexpr DWORD kWindowsDriveRefusalBytes = 0x20000000;     // below: refused (512 MiB)
constexpr DWORD kWindowsDriveTemporaryBytes = 0x40000000;   // above: temporary folder (1 GiB)
constexpr DWORD kSpareDriveMinimumBytes = 0x12C00000;       // a spare drive needs more (300 MiB)

enum class WorkFolderRoute { Refused, SpareDrive, TemporaryFolder };

// The route that `freeBytes` on the Windows drive selects.
WorkFolderRoute WindowsDriveRoute(ULONGLONG freeBytes);

// Whether a drive with `freeBytes` free has room to take the work folder.
bool SpareDriveHasRoom(ULONGLONG freeBytes);

// Empties `folder`, then chooses a work folder; `folder` is set only with kWorkFolderChosen, and
// then never empty. Creates nothing but (on the temporary-folder route) an empty placeholder file
// of that name; when a temporary-folder call fails the placeholder is removed and the result is
// kWorkFolderSystemCallFailed. The temporary-folder route takes the user's temporary folder when
// FolderVolumeIsPrivate says so, else the Windows folder's own "Temp" (traced).
WorkFolderStatus ChooseWorkFolder(std::wstring& folder);

// The root ("D:") of the first fixed drive from C: to Z:, other than the Windows drive, whose file
// system keeps access lists (FILE_PERSISTENT_ACLS: not FAT or exFAT, where every local user may
// write into any folder) and with more than 300 MiB free, or the empty string. `windowsRoot`
// ("C:") is compared without regard to case.
std::wstring FindSpareFixedDrive(const std::wstring& windowsRoot);

// "<root>\_IS<yyyy><mm><dd><tick count as a signed number>", from the local date and the tick count.
std::wstring MakeDatedFolderName(const std::wstring& driveRoot);

// A work folder this run made, held: from the moment it exists the run uses `path` and only it.
struct HeldWorkFolder {
    // The folder itself, opened as it was created.
    qarv::UniqueFile folder;
    // Each folder above it, from the one below the volume's root down to its parent.
    std::vector<qarv::UniqueFile> ancestors;
    // The held folder's own final path (every junction and link resolved, long names, no "\\?\"),
    // without a trailing backslash.
    std::wstring path;

    explicit operator bool() const { return static_cast<bool>(folder) && !path.empty(); }
};

// Creates `folder` with a protected DACL (full control for Administrators and SYSTEM, read and
// execute only for the current user and for the folder's owner, OWNER RIGHTS; inherited by
// everything created inside, nothing inherited from the parent) and holds it. Creation and opening
// are one step, inside a handle to the parent, so no other process can come between them. Every
// handle shares reading and writing but not deletion; renaming or removing a folder needs an open
// with delete access, so while the result lives neither the work folder nor any folder on its
// final path can be renamed or removed, and no other folder or junction can take their places:
// the final path keeps leading into this very folder (the user owns the temporary folder, and with
// it the right to rename any child). Empty, with nothing created, when anything already exists at
// the path (a junction included) or the rights cannot be built; empty, with the folder left where
// it is, empty, when its path does not lead to it or a folder above it cannot be held.
HeldWorkFolder CreateAndHoldWorkFolder(const std::wstring& folder);

// True when `folder` is a directory, no reparse point, whose final path is `expectedFinalPath`
// (compared without regard to case; see FinalPathOf).
bool HandleLeadsTo(HANDLE folder, const std::wstring& expectedFinalPath);

// The final path of an open file or folder, in its DOS form without the "\\?\" prefix
// ("\\server\share\..." for a UNC path), or the empty string.
std::wstring FinalPathOf(HANDLE handle);

// Whether the folder at `path` may hold the work folder: its volume keeps access lists
// (FILE_PERSISTENT_ACLS: not FAT or exFAT, where every local user may write into any folder) and
// is not a network share (where anyone with access to the share may). False when it cannot be read.
bool FolderVolumeIsPrivate(const std::wstring& path);

using WorkFolderSecurity = qarv::UniqueLocalMemory<>;

// The self-relative security descriptor CreateAndHoldWorkFolder applies, or null when the current user's
// identity cannot be read.
WorkFolderSecurity MakeWorkFolderSecurity();

// The platform calls of the selection a test may replace (common/platform_calls.h), where Wine
// cannot produce the case: exact byte counts, a tick count past 2^31. Null: the real call.
struct WorkFolderPlatformCalls {
    BOOL(WINAPI* getDiskFreeSpaceEx)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER) = nullptr;
    UINT(WINAPI* getDriveType)(LPCWSTR) = nullptr;
    DWORD(WINAPI* getTickCount)() = nullptr;
    BOOL(WINAPI* getVolumeInformation)(LPCWSTR, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD) = nullptr;
    // Of FinalPathOf, for an answer Wine never gives (a size that keeps growing).
    DWORD(WINAPI* getFinalPathNameByHandle)(HANDLE, LPWSTR, DWORD, DWORD) = nullptr;
};

}  // namespace qarv
