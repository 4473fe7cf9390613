// Reading an extended dialog template.
#include "tests/support/dialog_template.h"

#include <cstring>

namespace qarv::test {
namespace {

class Reader {
public:
    Reader(const BYTE* bytes, size_t size) : m_bytes(bytes), m_size(size) {}
    bool ok() const { return m_ok; }

    template <typename T>
    T Read() {
        T value{};
        if (m_offset + sizeof(T) > m_size) {
            m_ok = false;
            return value;
        }
        std::memcpy(&value, m_bytes + m_offset, sizeof(T));
        m_offset += sizeof(T);
        return value;
    }
    std::wstring ReadString() {
        std::wstring text;
        for (;;) {
            const wchar_t c = static_cast<wchar_t>(Read<WORD>());
            if (!m_ok || c == 0) return text;
            text.push_back(c);
        }
    }
    NameOrOrdinal ReadNameOrOrdinal() {
        NameOrOrdinal name;
        const WORD first = Read<WORD>();
        if (first == 0xFFFF) {
            name.isOrdinal = true;
            name.ordinal = Read<WORD>();
        } else if (first != 0) {
            name.text.push_back(static_cast<wchar_t>(first));
            name.text += ReadString();
        }
        return name;
    }
    void AlignToDword() { m_offset = (m_offset + 3) & ~static_cast<size_t>(3); }
    void Skip(size_t count) { m_offset += count; }

private:
    const BYTE* m_bytes;
    size_t m_size;
    size_t m_offset = 0;
    bool m_ok = true;
};

}  // namespace

bool ParseDialogTemplateEx(const BYTE* bytes, size_t size, DialogTemplate& dialog) {
    Reader reader(bytes, size);
    dialog.version = reader.Read<WORD>();
    dialog.signature = reader.Read<WORD>();
    if (dialog.version != 1 || dialog.signature != 0xFFFF) return false;
    dialog.helpId = reader.Read<DWORD>();
    dialog.exStyle = reader.Read<DWORD>();
    dialog.style = reader.Read<DWORD>();
    const WORD count = reader.Read<WORD>();
    dialog.x = reader.Read<short>();
    dialog.y = reader.Read<short>();
    dialog.cx = reader.Read<short>();
    dialog.cy = reader.Read<short>();
    dialog.menu = reader.ReadNameOrOrdinal();
    dialog.windowClass = reader.ReadNameOrOrdinal();
    dialog.caption = reader.ReadString();
    if (dialog.style & (DS_SETFONT | DS_SHELLFONT)) {
        dialog.pointSize = reader.Read<WORD>();
        dialog.weight = reader.Read<WORD>();
        dialog.italic = reader.Read<BYTE>();
        dialog.charset = reader.Read<BYTE>();
        dialog.typeface = reader.ReadString();
    }
    for (WORD i = 0; i < count && reader.ok(); ++i) {
        reader.AlignToDword();
        DialogItem item;
        item.helpId = reader.Read<DWORD>();
        item.exStyle = reader.Read<DWORD>();
        item.style = reader.Read<DWORD>();
        item.x = reader.Read<short>();
        item.y = reader.Read<short>();
        item.cx = reader.Read<short>();
        item.cy = reader.Read<short>();
        item.id = reader.Read<DWORD>();
        item.windowClass = reader.ReadNameOrOrdinal();
        item.title = reader.ReadNameOrOrdinal();
        item.extraCount = reader.Read<WORD>();
        reader.Skip(item.extraCount);
        dialog.items.push_back(item);
    }
    return reader.ok();
}

}  // namespace qarv::test
