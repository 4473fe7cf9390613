// How the tools write a cabinet's values for people, and read them back from a command line:
// attributes, MS-DOS dates and times, hexadecimal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qarv::tools {

// "0x21 r--a": the attribute bits, then read-only, hidden, system, archive.
std::string FormatAttributes(std::uint16_t attributes);

// "r", "h", "s", "a" in any combination, or "-" for none. False for anything else, or nothing.
bool ParseAttributeLetters(const std::string& letters, std::uint16_t& attributes);

// "2009-03-16 08:30:00", or empty when the MS-DOS date or time is not a real one.
std::string FormatDosDateTime(std::uint16_t date, std::uint16_t time);

// FormatDosDateTime, or "invalid (DDDD TTTT)" with the raw fields when it is not a real date.
std::string DescribeDosDateTime(std::uint16_t date, std::uint16_t time);

// "YYYY-MM-DD HH:MM:SS" (a real date, years 1980 to 2107, even seconds) to MS-DOS date and time;
// false for anything else.
bool ParseDosDateTime(const std::string& text, std::uint16_t& date, std::uint16_t& time);

// Upper-case hexadecimal of `size` bytes, with `separator` between bytes when it is not '\0'.
std::string HexBytes(const std::uint8_t* data, std::size_t size, char separator = '\0');
inline std::string HexBytes(const std::vector<std::uint8_t>& bytes, char separator = '\0') {
    return HexBytes(bytes.data(), bytes.size(), separator);
}

// "0x1F40": a number in upper-case hexadecimal.
std::string HexNumber(std::uint64_t value);

// Bytes from an untrusted file made safe to print on a terminal: every control byte (below 0x20,
// and 0x7F) shown as \xNN, other bytes as they are.
std::string PrintableText(const std::string& bytes);

}  // namespace qarv::tools
