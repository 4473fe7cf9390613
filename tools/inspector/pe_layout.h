// The headers every PE image (PE32 or PE32+) starts with, read by hand: the MZ and PE signatures,
// the file header and where the optional header, its data directories and the section table lie.
// The resource reader and the signature reader both start here.
// Layout reference: https://learn.microsoft.com/windows/win32/debug/pe-format
#pragma once

#include <cstdint>
#include <string>

#include "byte_view.h"

namespace qarv::tools::inspector {

struct PeLayout {
    bool pe32Plus = false;
    std::uint16_t machine = 0;
    std::uint16_t sectionCount = 0;
    std::uint16_t optionalSize = 0;     // the optional header's size, as the file header gives it
    std::uint64_t optionalHeader = 0;   // file offsets from here on
    std::uint64_t checksumField = 0;
    std::uint64_t directoryCountField = 0;  // NumberOfRvaAndSizes
    std::uint64_t sectionTable = 0;

    // Where data directory `index`'s entry (RVA, size) lies in the file.
    std::uint64_t DirectoryEntry(std::uint32_t index) const {
        return directoryCountField + 4 + 8 * static_cast<std::uint64_t>(index);
    }
    // True when the optional header, by its declared size, has room for directory `index`'s entry.
    bool HasRoomForDirectory(std::uint32_t index) const {
        return DirectoryEntry(index) + 8 <= optionalHeader + optionalSize;
    }
};

enum class PeHeaderStatus {
    kOk,
    kNotPe,      // no MZ or PE signature, or an optional header of no known kind
    kTruncated,  // the file ends inside the file header or the optional header's magic
};

struct PeHeaders {
    PeHeaderStatus status = PeHeaderStatus::kNotPe;
    std::string problem;  // says what is wrong when status is not kOk
    PeLayout layout;
};

// Reads the headers up to the optional header's magic; checks nothing past it, so the caller
// checks that what it reads of the optional header and the section table lies in `file`.
PeHeaders ReadPeHeaders(ByteView file);

}  // namespace qarv::tools::inspector
