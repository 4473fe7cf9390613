// ANSI to wide path conversion.
#include "setup/path_conversion.h"

#include <windows.h>

#include <cwchar>
#include <memory>
#include <new>

int AnsiPathToWide(const char* ansiPath, wchar_t* widePath) {
    if (ansiPath == nullptr || widePath == nullptr) return 0;
    const int needed = MultiByteToWideChar(CP_ACP, 0, ansiPath, -1, nullptr, 0);
    if (needed == 0) return 0;

    std::unique_ptr<wchar_t[]> converted(new (std::nothrow) wchar_t[static_cast<size_t>(needed) + 1]);
    if (!converted) return 0;
    if (MultiByteToWideChar(CP_ACP, 0, ansiPath, -1, converted.get(), needed + 1) == 0) return 0;

    std::wcsncpy(widePath, converted.get(), kWidePathCapacity - 1);
    widePath[kWidePathCapacity - 1] = L'\0';
    return 1;
}
