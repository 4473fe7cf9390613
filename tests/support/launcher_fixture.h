// A clean machine for one run of the real launcher: no installed product, no restart value, the
// settings a test asks for; and what a run leaves behind, removed afterwards.
#pragma once

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/support/launcher_run.h"
#include "tests/support/window_probe.h"

namespace qarv::test {

constexpr const wchar_t* kLauncherCaption = L"QarvPro 2009 Setup";
constexpr const wchar_t* kRestartValueName = L"QarvPro2009Setup";

class LauncherFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The launcher's progress dialog (a dialog-class window holding the bar), or null.
    static HWND WaitForProgressDialog(DWORD processId, DWORD timeoutMs);

    // A copy of the launcher, under its own name, in a folder of its own. With a `payload`, the
    // copy carries those bytes as its payload resource instead, so that a stage fails for real.
    std::wstring CopyOfLauncher(const std::string* payload = nullptr);

    std::wstring m_copyFolder;
};

}  // namespace qarv::test
