// Choosing the work folder by the free space of the Windows drive, and creating it with rights
// that only administrators, the system and the installing user hold.
#pragma once

#include <windows.h>

#include <string>

#include "common/unique_handle.h"

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
// kWorkFolderSystemCallFailed.
WorkFolderStatus ChooseWorkFolder(std::wstring& folder);

// The root ("D:") of the first fixed drive from C: to Z:, other than the Windows drive, with more
// than 300 MiB free, or the empty string. `windowsRoot` ("C:") is compared without regard to case.
std::wstring FindSpareFixedDrive(const std::wstring& windowsRoot);

// "<root>\_IS<yyyy><mm><dd><tick count as a signed number>", from the local date and the tick count.
std::wstring MakeDatedFolderName(const std::wstring& driveRoot);

// Creates `folder` with a protected DACL: full control for Administrators and SYSTEM, read and
// execute only for the current user and for the folder's owner (OWNER RIGHTS), inherited by
// everything created inside, nothing inherited from the parent. Fails (0) when
// the folder already exists or the rights cannot be built; the folder is then not created.
int CreateWorkFolder(const std::wstring& folder);

using WorkFolderSecurity = qarv::UniqueLocalMemory<>;

// The self-relative security descriptor CreateWorkFolder applies, or null when the current user's
// identity cannot be read.
WorkFolderSecurity MakeWorkFolderSecurity();

// The platform calls of the selection a test may replace (common/platform_calls.h), where Wine
// cannot produce the case: exact byte counts, a tick count past 2^31. Null: the real call.
struct WorkFolderPlatformCalls {
    BOOL(WINAPI* getDiskFreeSpaceEx)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER) = nullptr;
    UINT(WINAPI* getDriveType)(LPCWSTR) = nullptr;
    DWORD(WINAPI* getTickCount)() = nullptr;
};
