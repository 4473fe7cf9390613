// Lays a complete, running previous (2006) generation out on this machine, for the demo; or, with
// --check, reports which of its parts are still there after a launcher has run.
// usage: prevgen_layout.exe [--check] [folder]   (default folder C:\Program Files\Velmora\Qarv2006)
// The stand-ins are taken from this program's own folder.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "tests/support/file_tree.h"
#include "tests/support/previous_generation_layout.h"

namespace {

namespace t = qarv::test;

constexpr const wchar_t* kRunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

int Report(const wchar_t* what, const std::wstring& name, bool present) {
    std::wprintf(L"  %-9ls %-7ls %ls\n", present ? L"STILL" : L"removed", what, name.c_str());
    return present ? 1 : 0;
}

// Prints every target of the removal and whether it is gone; returns how many remain.
int Check(const std::wstring& folder) {
    const t::PreviousGeneration generation = t::DescribePreviousGeneration(folder);
    int remaining = 0;
    for (const std::wstring& file : t::FilesToRemove(generation)) remaining += Report(L"file", file, t::PathExists(file));
    for (const std::wstring& key : t::KeysToRemove()) {
        // The product installed after the removal writes its own values under the same key.
        if (key == L"Software\\Qarv") {
            remaining += Report(L"value", L"HKLM\\" + key + L" szQarv2006Dir", t::MachineValueExists(key, L"szQarv2006Dir"));
        } else {
            remaining += Report(L"key", L"HKLM\\" + key, t::MachineKeyExists(key));
        }
    }
    for (const wchar_t* value : {L"QarvFw", L"QLuPro"}) {
        remaining += Report(L"value", std::wstring(L"HKLM\\") + kRunKey + L" " + value, t::MachineValueExists(kRunKey, value));
    }
    remaining += Report(L"shellext", L"ShellMenu.dll registration", t::ShellExtensionRegistered());
    remaining += Report(L"window", L"Qarv2006", FindWindowW(L"Qarv2006", nullptr) != nullptr);
    remaining += Report(L"window", L"QLiveUpdate", FindWindowW(L"QLiveUpdateClass", L"QLiveUpdate") != nullptr);
    std::wprintf(L"  kept on purpose: %ls\\ShellMenu.dll (%ls), %ls\\Qarv2006.lnk (%ls)\n", folder.c_str(),
                 t::PathExists(folder + L"\\ShellMenu.dll") ? L"there" : L"gone", generation.desktopFolder.c_str(),
                 t::PathExists(generation.desktopFolder + L"\\Qarv2006.lnk") ? L"there" : L"gone");
    return remaining;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool check = argc > 1 && std::wcscmp(argv[1], L"--check") == 0;
    const int folderArgument = check ? 2 : 1;
    const std::wstring folder = argc > folderArgument ? argv[folderArgument] : L"C:\\Program Files\\Velmora\\Qarv2006";
    if (check) {
        const int remaining = Check(folder);
        std::wprintf(remaining == 0 ? L"the previous generation is gone\n" : L"%d parts of it remain\n", remaining);
        return remaining == 0 ? 0 : 1;
    }

    wchar_t self[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::wstring standIns(self);
    standIns = standIns.substr(0, standIns.find_last_of(L'\\'));

    t::PreviousGenerationOptions options;
    options.folder = folder;
    options.standInFolder = standIns;
    t::PreviousGeneration generation;
    const std::wstring error = t::InstallPreviousGeneration(options, generation);
    if (!error.empty()) {
        std::fwprintf(stderr, L"prevgen_layout: %ls\n", error.c_str());
        return 1;
    }
    std::wprintf(L"previous generation laid out in %ls and running:\n", generation.folder.c_str());
    Check(folder);
    // The programs keep running after this program ends.
    CloseHandle(generation.mainProgram.release());
    CloseHandle(generation.updater.release());
    return 0;
}
