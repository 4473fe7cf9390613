// Reading an extended dialog template (DLGTEMPLATEEX) field by field, as stored in a resource.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qarv::test {

// A class or title field: an ordinal (0xFFFF followed by a number) or a string.
struct NameOrOrdinal {
    bool isOrdinal = false;
    WORD ordinal = 0;
    std::wstring text;
};

struct DialogItem {
    DWORD helpId = 0, exStyle = 0, style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    NameOrOrdinal windowClass;
    NameOrOrdinal title;
    WORD extraCount = 0;
};

struct DialogTemplate {
    WORD version = 0, signature = 0;
    DWORD helpId = 0, exStyle = 0, style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal menu, windowClass;
    std::wstring caption;
    WORD pointSize = 0, weight = 0;
    BYTE italic = 0, charset = 0;
    std::wstring typeface;
    std::vector<DialogItem> items;
};

// Parses `size` bytes of an extended template. Returns false when the bytes are not one.
bool ParseDialogTemplateEx(const BYTE* bytes, size_t size, DialogTemplate& dialog);

}  // namespace qarv::test
