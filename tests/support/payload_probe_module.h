// Helpers of the payload drop tests: a private folder, modules carrying a chosen RT_RCDATA 129,
// and a progress target that records every position sent to it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "payload/progress_target.h"

namespace qarv::payload_test {

// A fresh folder under the temporary folder, removed with its files at the end.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::wstring& Path() const { return m_path; }
    std::wstring File(const wchar_t* name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

// A copy of payload_probe.dll (beside the test program) at `path`, given `payload` as RT_RCDATA
// 129 in language 1033 unless `payload` is empty, and loaded as a data file.
class ProbeModule {
public:
    ProbeModule(const std::wstring& path, const std::vector<std::uint8_t>& payload);
    ~ProbeModule();
    ProbeModule(const ProbeModule&) = delete;
    ProbeModule& operator=(const ProbeModule&) = delete;
    HMODULE Get() const { return m_module; }

private:
    std::wstring m_path;
    HMODULE m_module = nullptr;
};

// A message-only window standing in for the dialog's bar: records each PBM_SETPOS position.
class ProgressRecorder : public ProgressTarget {
public:
    ProgressRecorder();
    ~ProgressRecorder();
    ProgressRecorder(const ProgressRecorder&) = delete;
    ProgressRecorder& operator=(const ProgressRecorder&) = delete;
    HWND ProgressBarWindow() const override { return m_window; }
    const std::vector<int>& Positions() const { return m_positions; }
    int OtherMessages() const { return m_otherMessages; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND m_window = nullptr;
    std::vector<int> m_positions;
    int m_otherMessages = 0;
};

std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed);
std::vector<std::uint8_t> ReadWholeFile(const std::wstring& path);
// True when nobody else holds the file open (it opens with no sharing at all).
bool FileIsClosed(const std::wstring& path);

}  // namespace qarv::payload_test
