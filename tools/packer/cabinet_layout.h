// Reading and patching the file entries of a single Microsoft cabinet held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace packer {

// Every failure the packer reports to its user; the message says what to fix.
struct PackerError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Cabinet attribute bits the launcher restores.
constexpr std::uint16_t kAttributeReadOnly = 0x01;
constexpr std::uint16_t kAttributeHidden = 0x02;
constexpr std::uint16_t kAttributeSystem = 0x04;
constexpr std::uint16_t kAttributeArchive = 0x20;

struct CabinetEntry {
    std::string name;
    std::uint32_t size = 0;
    std::uint16_t date = 0;  // MS-DOS date and time, local time
    std::uint16_t time = 0;
    std::uint16_t attributes = 0;
    std::size_t headerOffset = 0;  // of the entry's CFFILE record in the cabinet
};

// The file entries in cabinet order. Throws PackerError for anything that is not one whole,
// self-contained cabinet (bad signature, sizes that do not add up, a cabinet set).
std::vector<CabinetEntry> ReadCabinetEntries(const std::vector<std::uint8_t>& cabinet);

// Why the launcher could not extract `name` into its flat work folder; empty when it can.
std::string ProblemWithEntryName(const std::string& name);

void SetEntryAttributes(std::vector<std::uint8_t>& cabinet, const CabinetEntry& entry, std::uint16_t attributes);
void SetEntryDateTime(std::vector<std::uint8_t>& cabinet, const CabinetEntry& entry, std::uint16_t date, std::uint16_t time);

// "YYYY-MM-DD HH:MM:SS" (even seconds; 1980 to 2107) to MS-DOS date and time. Throws PackerError.
void ParseDosDateTime(const std::string& text, std::uint16_t& date, std::uint16_t& time);
std::string FormatDosDateTime(std::uint16_t date, std::uint16_t time);

// "r", "h", "s", "a" in any combination, or "-" for none. Throws PackerError.
std::uint16_t ParseAttributeLetters(const std::string& letters);
std::string FormatAttributes(std::uint16_t attributes);

}  // namespace packer
