// Bytes from an untrusted file made safe to print on a terminal.
#pragma once

#include <cstdio>
#include <string>

namespace inspector {

// `bytes` with every control byte (below 0x20, and 0x7F) shown as \xNN; other bytes as they are.
inline std::string PrintableText(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            text += escaped;
        } else {
            text += static_cast<char>(c);
        }
    }
    return text;
}

}  // namespace inspector
