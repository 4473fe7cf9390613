// Bounds-checked little-endian reads from bytes of an untrusted file: every read says whether it fitted.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qarv::tools {

class ByteView {
public:
    ByteView() = default;
    ByteView(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    const std::uint8_t* data() const { return m_data; }
    std::size_t size() const { return m_size; }

    // True when `length` bytes from `offset` lie inside the view; 64-bit arguments, so that sums of
    // 32-bit fields read from the file cannot wrap before they are checked.
    bool Has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= m_size && length <= m_size - offset;
    }

    bool Read8(std::uint64_t offset, std::uint8_t& value) const {
        if (!Has(offset, 1)) return false;
        value = m_data[offset];
        return true;
    }
    bool Read16(std::uint64_t offset, std::uint16_t& value) const {
        if (!Has(offset, 2)) return false;
        value = static_cast<std::uint16_t>(m_data[offset] | (m_data[offset + 1] << 8));
        return true;
    }
    bool Read32(std::uint64_t offset, std::uint32_t& value) const {
        if (!Has(offset, 4)) return false;
        value = static_cast<std::uint32_t>(m_data[offset]) | (static_cast<std::uint32_t>(m_data[offset + 1]) << 8) |
                (static_cast<std::uint32_t>(m_data[offset + 2]) << 16) |
                (static_cast<std::uint32_t>(m_data[offset + 3]) << 24);
        return true;
    }

    // The bytes from `offset` on, at most `length` of them; empty when `offset` is past the end.
    ByteView Slice(std::uint64_t offset, std::uint64_t length) const {
        if (offset >= m_size) return {};
        const std::uint64_t room = m_size - offset;
        return ByteView(m_data + offset, static_cast<std::size_t>(length < room ? length : room));
    }

private:
    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
};

}  // namespace qarv::tools
