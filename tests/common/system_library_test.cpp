// System DLLs loaded by their full path: the module comes from the system directory, and a name
// that cannot form a path there loads nothing.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "common/system_library.h"

namespace {

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD length = GetModuleFileNameW(module, path, static_cast<DWORD>(std::size(path)));
    return std::wstring(path, length);
}

TEST(SystemLibrary, ProcessStatusComesFromTheSystemDirectoryWithItsCall) {
    const qarv::UniqueModule psapi = qarv::LoadSystemLibrary(L"psapi.dll");
    ASSERT_TRUE(psapi);
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_EQ(CompareStringOrdinal(ModulePath(psapi.get()).c_str(), -1, (std::wstring(system) + L"\\psapi.dll").c_str(),
                                   -1, TRUE),
              CSTR_EQUAL)
        << testing::PrintToString(ModulePath(psapi.get()));
    EXPECT_NE(GetProcAddress(psapi.get(), "GetModuleFileNameExW"), nullptr);
}

TEST(SystemLibrary, NoNameMissingFileOrOverlongNameLoadsNothing) {
    EXPECT_FALSE(qarv::LoadSystemLibrary(nullptr));
    EXPECT_FALSE(qarv::LoadSystemLibrary(L""));
    EXPECT_FALSE(qarv::LoadSystemLibrary(L"qarv-no-such-library.dll"));
    EXPECT_FALSE(qarv::LoadSystemLibrary(std::wstring(MAX_PATH, L'a').c_str()));
}

}  // namespace
