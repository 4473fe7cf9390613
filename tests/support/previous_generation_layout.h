// Lays a complete previous (2006) generation out on this machine, from the stand-in programs of
// testprograms/prevgen, and takes it away again. Used by the legacy tests and the demo's layout program.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/unique_handle.h"

namespace qarv::test {

struct PreviousGenerationOptions {
    std::wstring folder;         // the folder recorded in "szQarv2006Dir"; created
    std::wstring standInFolder;  // where Qarv2006.exe, QluPro.exe and ShellMenu.dll were built
    bool startPrograms = true;   // start the main program and the updater and wait for their windows
    bool hungUpdater = false;    // the updater stops responding when told to close
};

struct PreviousGeneration {
    std::wstring folder;
    std::wstring desktopFolder;    // the current user's "Shell Folders" values
    std::wstring startMenuFolder;
    std::wstring programsFolder;
    std::wstring updaterPath;      // system drive + "Program Files\QLuPro\QluPro.exe"
    std::wstring savedDesktopValue;      // the "Desktop" values before the layout pointed them elsewhere
    std::wstring savedUserDesktopValue;  // ("Shell Folders" and "User Shell Folders")
    UniqueKernelHandle mainProgram;  // running stand-ins, when started
    UniqueKernelHandle updater;
};

// Wine links the desktop to the build machine's home folder, which every prefix shares; so the
// layout points the current user's "Desktop" shell folder at a private folder on the system drive
// (in "User Shell Folders" too, from which the shell rewrites "Shell Folders") and
// RemovePreviousGenerationLayout puts the old values back.
// Lays out the recorded folder with its eleven files and ShellMenu.dll, the desktop entry (and a
// desktop shortcut that is not the previous generation's to remove), the Start-menu shortcut, the
// "Velmora Antivirus" program group, the seven registry keys (service keys with "Enum" subkeys),
// the "QarvFw" and "QLuPro" Run values, the shell extension registered through the system's
// regsvr32, the updater's file, and the running programs. Returns an empty text on success, else
// what failed (what was laid out so far stays; RemovePreviousGenerationLayout takes it away).
std::wstring InstallPreviousGeneration(const PreviousGenerationOptions& options, PreviousGeneration& generation);

// The paths a generation laid out at `folder` uses, without laying anything out.
PreviousGeneration DescribePreviousGeneration(const std::wstring& folder);

// Ends the stand-ins' processes and removes everything InstallPreviousGeneration may have made.
void RemovePreviousGenerationLayout(PreviousGeneration& generation);

// The files the removal deletes, in the order of its table: the folder's eleven, the desktop
// entry, the Start-menu shortcut, the two group shortcuts, and the updater.
std::vector<std::wstring> FilesToRemove(const PreviousGeneration& generation);

// The HKEY_LOCAL_MACHINE keys the removal deletes.
std::vector<std::wstring> KeysToRemove();

// Starts `program` with `arguments`; null handle when it cannot be started.
UniqueKernelHandle StartProgram(const std::wstring& program, const std::wstring& arguments = L"");

// Waits up to `timeoutMs` for a top-level window of `windowClass` (and `title`, when given).
HWND WaitForWindow(const wchar_t* windowClass, const wchar_t* title, DWORD timeoutMs);

bool MachineKeyExists(const std::wstring& subKey);
bool MachineValueExists(const std::wstring& subKey, const std::wstring& valueName);
bool ShellExtensionRegistered();

// Sets or deletes (when `text` is null) a string value under HKEY_LOCAL_MACHINE.
bool SetMachineString(const std::wstring& subKey, const std::wstring& valueName, const wchar_t* text,
                      DWORD type = REG_SZ);

}  // namespace qarv::test
