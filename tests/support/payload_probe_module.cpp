// Helpers of the payload drop tests.
#include "tests/support/payload_probe_module.h"

#include <commctrl.h>

#include <random>
#include <stdexcept>

#include "common/unique_handle.h"
#include "res/resource_ids.h"
#include "tests/support/test_paths.h"

namespace qarv::payload_test {

ScratchFolder::ScratchFolder() {
    static LONG counter = 0;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    m_path = std::wstring(temp) + L"qarv-payload-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(InterlockedIncrement(&counter));
    if (!CreateDirectoryW(m_path.c_str(), nullptr)) throw std::runtime_error("cannot make a scratch folder");
}

ScratchFolder::~ScratchFolder() {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((m_path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            SetFileAttributesW(File(name.c_str()).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(File(name.c_str()).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(m_path.c_str());
}

ProbeModule::ProbeModule(const std::wstring& path, const std::vector<std::uint8_t>& payload) : m_path(path) {
    if (!CopyFileW((qarv::test::ProgramFolder() + L"\\payload_probe.dll").c_str(), path.c_str(), FALSE)) {
        throw std::runtime_error("cannot copy payload_probe.dll");
    }
    if (!payload.empty()) {
        HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
        if (update == nullptr ||
            !UpdateResourceW(update, RT_RCDATA, MAKEINTRESOURCEW(IDR_PAYLOAD), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                             const_cast<std::uint8_t*>(payload.data()), static_cast<DWORD>(payload.size())) ||
            !EndUpdateResourceW(update, FALSE)) {
            throw std::runtime_error("cannot give the probe its payload");
        }
    }
    m_module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (m_module == nullptr) throw std::runtime_error("cannot load the probe");
}

ProbeModule::~ProbeModule() {
    if (m_module != nullptr) FreeLibrary(m_module);
    DeleteFileW(m_path.c_str());
}

ProgressRecorder::ProgressRecorder() {
    static const wchar_t kClassName[] = L"QarvPayloadProgressRecorder";
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);  // fails harmlessly once registered
    m_window = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (m_window == nullptr) throw std::runtime_error("cannot make the progress recorder's window");
    SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

ProgressRecorder::~ProgressRecorder() {
    if (m_window != nullptr) DestroyWindow(m_window);
}

LRESULT CALLBACK ProgressRecorder::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<ProgressRecorder*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr) {
        if (message == PBM_SETPOS) {
            self->m_positions.push_back(static_cast<int>(wParam));
            return 0;
        }
        if (message >= WM_USER) ++self->m_otherMessages;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator());
    return bytes;
}

std::vector<std::uint8_t> ReadWholeFile(const std::wstring& path) {
    qarv::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return {};
    LARGE_INTEGER size = {};
    GetFileSizeEx(file.get(), &size);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() && (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size())) {
        return {};
    }
    return bytes;
}

bool FileIsClosed(const std::wstring& path) {
    qarv::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return file.valid();
}

}  // namespace qarv::payload_test
