// Removing the product's previous (2006) generation before the setup sequence runs.
#pragma once

#include <windows.h>

#include <cstddef>

namespace qarv {

constexpr DWORD kPreviousGenerationPathCapacity = 1024;

// Process-wide ANSI buffers (system code page), zero at start, used only on the setup worker thread.
// The folder the previous generation recorded in "szQarv2006Dir", as stored.
extern char PreviousGenerationFolder[kPreviousGenerationPathCapacity];

struct ShellFolderBuffers {
    char StartMenuPath[kPreviousGenerationPathCapacity];
    char DesktopPath[kPreviousGenerationPathCapacity];
    char ProgramsPath[kPreviousGenerationPathCapacity];
};
// The current user's "Start Menu", "Desktop" and "Programs" folders. The removal appends file
// names to the first two in place.
extern ShellFolderBuffers ShellFolderPaths;

// Ends the previous generation's programs and removes its files, shortcuts, registry keys, shell
// extension and updater, when that generation recorded its folder. Absorbs every failure. Does
// nothing at all, not even a wait, when no folder is recorded.
void RemovePreviousGeneration();

// Reads HKLM "SOFTWARE\Qarv" "szQarv2006Dir" (REG_SZ only) into PreviousGenerationFolder. Returns
// the length of the text read; 0 means not recorded (no key, no value, another type, empty, or a
// text that does not fit `capacity` bytes with its terminator). Creates the key empty when missing.
int ReadPreviousGenerationFolder(DWORD capacity);

// Reads the three folders from the current user's "Shell Folders" key into ShellFolderPaths. A value
// that cannot be read leaves its buffer as it was. Returns 1 when the key was opened, else 0.
int ReadShellFolderPaths();

// Stops the updater (its window, then its processes) and removes its Run value and program file.
// Non-zero when the program file was deleted.
int RemoveUpdater();

// Builds `folder` + `suffix` into `buffer` of `capacity` bytes. False, with the buffer emptied,
// when the folder is empty or the name does not fit: such a name is skipped, never cut.
bool ComposeName(char* buffer, size_t capacity, const char* folder, const char* suffix);

// True for a folder named from a drive root ("C:\...") or a share ("\\server\..."). Any other
// text would make every name built from it relative to the current drive or folder.
bool IsFullyQualifiedFolder(const char* folder);

// Appends `suffix` to the text in `buffer` of `capacity` bytes. False, with the buffer unchanged,
// when the buffer holds no text (its folder was never read) or the result does not fit.
bool AppendName(char* buffer, size_t capacity, const char* suffix);

// The platform calls of the removal a test may replace (common/platform_calls.h): the waits and
// the start of the unregistration, so a test can see which waits a removal made and which program
// it started without waiting them out or starting it. Null: the real call.
struct PreviousGenerationPlatformCalls {
    void(WINAPI* sleep)(DWORD milliseconds) = nullptr;
    HINSTANCE(WINAPI* shellExecuteA)(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                                     INT show) = nullptr;
};

// Bound of the WM_DESTROY sent to the updater's window: a hung updater must not hold the setup.
constexpr UINT kUpdaterMessageTimeoutMs = 5000;

}  // namespace qarv
