// How the tools write a cabinet's values for people, and read them back from a command line.
#include "cabinet_text.h"

#include <cstdio>

#include "cabinet_directory.h"

namespace qarv::tools {
namespace {

bool IsLeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool IsRealDateTime(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second) {
    static constexpr unsigned kDaysInMonth[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month >= 1 && month <= 12 && day >= 1 && day <= kDaysInMonth[month - 1] &&
           !(month == 2 && day == 29 && !IsLeapYear(year)) && hour <= 23 && minute <= 59 && second <= 59;
}

}  // namespace

std::string FormatAttributes(std::uint16_t attributes) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%02X %c%c%c%c", attributes, attributes & kAttributeReadOnly ? 'r' : '-',
                  attributes & kAttributeHidden ? 'h' : '-', attributes & kAttributeSystem ? 's' : '-',
                  attributes & kAttributeArchive ? 'a' : '-');
    return text;
}

bool ParseAttributeLetters(const std::string& letters, std::uint16_t& attributes) {
    attributes = 0;
    if (letters == "-") return true;
    for (char c : letters) {
        switch (c) {
            case 'r': attributes |= kAttributeReadOnly; break;
            case 'h': attributes |= kAttributeHidden; break;
            case 's': attributes |= kAttributeSystem; break;
            case 'a': attributes |= kAttributeArchive; break;
            default: return false;
        }
    }
    return attributes != 0;
}

std::string FormatDosDateTime(std::uint16_t date, std::uint16_t time) {
    const unsigned year = 1980u + (date >> 9), month = (date >> 5) & 15u, day = date & 31u;
    const unsigned hour = time >> 11, minute = (time >> 5) & 63u, second = (time & 31u) * 2;
    if (!IsRealDateTime(year, month, day, hour, minute, second)) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", year, month, day, hour, minute, second);
    return text;
}

std::string DescribeDosDateTime(std::uint16_t date, std::uint16_t time) {
    const std::string text = FormatDosDateTime(date, time);
    if (!text.empty()) return text;
    char invalid[32];
    std::snprintf(invalid, sizeof invalid, "invalid (%04X %04X)", date, time);
    return invalid;
}

bool ParseDosDateTime(const std::string& text, std::uint16_t& date, std::uint16_t& time) {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4u-%2u-%2u %2u:%2u:%2u%c", &year, &month, &day, &hour, &minute, &second, &tail) != 6 ||
        year < 1980 || year > 2107 || second % 2 != 0 || !IsRealDateTime(year, month, day, hour, minute, second)) {
        return false;
    }
    date = static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
    time = static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
    return true;
}

std::string HexBytes(const std::uint8_t* data, std::size_t size, char separator) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        if (i != 0 && separator != '\0') text += separator;
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 0x0F];
    }
    return text;
}

std::string HexNumber(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string PrintableText(const std::string& bytes) {
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

}  // namespace qarv::tools
