// The packer's hold on the cabinet it packs: read whole and self-contained, file entries patched.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "cabinet_directory.h"

namespace qarv::tools::packer {

// Every failure the packer reports to its user; the message says what to fix.
struct PackerError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using CabinetEntry = tools::CabinetFile;

// The file entries in cabinet order. Throws PackerError for anything that is not one whole,
// self-contained cabinet (bad signature, sizes that do not add up, a cabinet set, no files).
std::vector<CabinetEntry> ReadCabinetEntries(const std::vector<std::uint8_t>& cabinet);

// Why the launcher could not extract `name` into its flat work folder; empty when it can.
std::string ProblemWithEntryName(const std::string& name);

void SetEntryAttributes(std::vector<std::uint8_t>& cabinet, const CabinetEntry& entry, std::uint16_t attributes);
void SetEntryDateTime(std::vector<std::uint8_t>& cabinet, const CabinetEntry& entry, std::uint16_t date, std::uint16_t time);

}  // namespace qarv::tools::packer
