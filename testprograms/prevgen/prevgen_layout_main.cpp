// Lays a complete, running previous (2006) generation out on this machine, for the demo.
// usage: prevgen_layout.exe [folder]   (default C:\Program Files\Velmora\Qarv2006)
// The stand-ins are taken from this program's own folder. Prints what it laid out.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/support/previous_generation_layout.h"

int wmain(int argc, wchar_t** argv) {
    wchar_t self[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::wstring standIns(self);
    standIns = standIns.substr(0, standIns.find_last_of(L'\\'));

    qarv::test::PreviousGenerationOptions options;
    options.folder = argc > 1 ? argv[1] : L"C:\\Program Files\\Velmora\\Qarv2006";
    options.standInFolder = standIns;
    qarv::test::PreviousGeneration generation;
    const std::wstring error = qarv::test::InstallPreviousGeneration(options, generation);
    if (!error.empty()) {
        std::fwprintf(stderr, L"prevgen_layout: %ls\n", error.c_str());
        return 1;
    }
    std::wprintf(L"previous generation laid out in %ls\n", generation.folder.c_str());
    for (const std::wstring& file : qarv::test::FilesToRemove(generation)) std::wprintf(L"  file %ls\n", file.c_str());
    for (const std::wstring& key : qarv::test::KeysToRemove()) std::wprintf(L"  key  HKLM\\%ls\n", key.c_str());
    std::wprintf(L"  Run values QarvFw, QLuPro; shell extension registered; Qarv2006.exe and QluPro.exe running\n");
    // The programs keep running after this program ends: release without ending them.
    generation.mainProgram.release();
    generation.updater.release();
    return 0;
}
