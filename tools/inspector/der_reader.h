// Walking DER (the distinguished encoding of ASN.1) in bytes of an untrusted file: one element at a
// time, every length checked against what holds it. Indefinite lengths are refused; DER has none.
#pragma once

#include <cstdint>
#include <string>

#include "byte_view.h"

namespace qarv::tools::inspector {

namespace der {
constexpr std::uint8_t kInteger = 0x02;
constexpr std::uint8_t kBitString = 0x03;
constexpr std::uint8_t kOctetString = 0x04;
constexpr std::uint8_t kNull = 0x05;
constexpr std::uint8_t kOid = 0x06;
constexpr std::uint8_t kSequence = 0x30;
constexpr std::uint8_t kSet = 0x31;
constexpr std::uint8_t kContext0 = 0xA0;  // [0], constructed
constexpr std::uint8_t kContext1 = 0xA1;  // [1], constructed
}  // namespace der

struct DerElement {
    std::uint8_t tag = 0;
    ByteView whole;  // tag, length and value
    ByteView value;
};

class DerReader {
public:
    explicit DerReader(ByteView bytes) : m_bytes(bytes) {}

    bool AtEnd() const { return m_position >= m_bytes.size(); }
    // The tag of the next element, 0 at the end.
    std::uint8_t PeekTag() const {
        std::uint8_t tag = 0;
        return m_bytes.Read8(m_position, tag) ? tag : 0;
    }

    // The next element; false (and the reader stuck) when its header or value runs past the end.
    bool Next(DerElement& element) {
        std::uint8_t tag = 0, first = 0;
        if (!m_bytes.Read8(m_position, tag) || !m_bytes.Read8(m_position + 1, first)) return false;
        // Multi-byte tag numbers do not occur in the structures read here.
        if ((tag & 0x1F) == 0x1F) return false;
        std::uint64_t header = 2, length = first;
        if (first & 0x80) {
            const int count = first & 0x7F;
            if (count == 0 || count > 4) return false;
            length = 0;
            for (int i = 0; i < count; ++i) {
                std::uint8_t byte = 0;
                if (!m_bytes.Read8(m_position + 2 + i, byte)) return false;
                length = (length << 8) | byte;
            }
            header += count;
        }
        if (!m_bytes.Has(m_position + header, length)) return false;
        element.tag = tag;
        element.whole = m_bytes.Slice(m_position, header + length);
        element.value = m_bytes.Slice(m_position + header, length);
        m_position += header + length;
        return true;
    }

    // The next element, which must carry `tag`.
    bool Expect(std::uint8_t tag, DerElement& element) { return Next(element) && element.tag == tag; }

    // Skips the next element when it carries `tag`; true when it did.
    bool SkipIf(std::uint8_t tag) {
        if (PeekTag() != tag) return false;
        DerElement skipped;
        return Next(skipped);
    }

private:
    ByteView m_bytes;
    std::uint64_t m_position = 0;
};

// An object identifier's value bytes in dotted form ("1.2.840.113549.1.7.2"); empty when malformed.
inline std::string OidText(ByteView value) {
    if (value.size() == 0) return {};
    std::string text;
    std::uint64_t number = 0;
    bool first = true;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const std::uint8_t byte = value.data()[i];
        if (number > (UINT64_MAX >> 7)) return {};
        number = (number << 7) | (byte & 0x7F);
        if (byte & 0x80) continue;
        if (first) {
            const std::uint64_t top = number < 40 ? 0 : number < 80 ? 1 : 2;
            text = std::to_string(top) + "." + std::to_string(number - 40 * top);
            first = false;
        } else {
            text += "." + std::to_string(number);
        }
        number = 0;
    }
    return (value.data()[value.size() - 1] & 0x80) ? std::string() : text;
}

}  // namespace qarv::tools::inspector
