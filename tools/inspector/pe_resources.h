// Finding one resource's bytes in a PE file (PE32 or PE32+) by reading its headers (pe_layout.h)
// and resource directory by hand: no loader, no Windows headers, every offset checked against the file.
#pragma once

#include <cstdint>
#include <string>

#include "byte_view.h"
#include "pe_layout.h"

namespace qarv::tools::inspector {

constexpr std::uint32_t kResourceTypeRcData = 10;

enum class PeStatus {
    kOk,
    kNotPe,        // no MZ/PE signatures, or headers that do not describe an image
    kTruncated,    // the headers say the bytes are there, the file ends first
    kNoResource,   // a well-formed image without the resource asked for
};

struct PeResource {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
    std::uint64_t fileOffset = 0;  // where the resource's bytes start in the file
    std::uint16_t language = 0;
};

struct PeLookup {
    PeStatus status = PeStatus::kNotPe;
    std::string problem;  // says what is wrong when status is not kOk
    PeLayout image;  // filled as far as the headers could be read
    PeResource resource;
};

// Finds the resource `type`/`id` (integer ids). Of its languages it takes `preferredLanguage` when
// present, else the first one listed. On kOk, file.Has(resource.fileOffset, resource.size) holds.
PeLookup FindPeResource(ByteView file, std::uint32_t type, std::uint32_t id, std::uint16_t preferredLanguage);

// "i386", "x86-64", ... or the machine number in hexadecimal.
std::string MachineName(std::uint16_t machine);

}  // namespace qarv::tools::inspector
