// How large a payload the 32-bit launcher can carry, by the address space its process gets.
// Portable (no Windows headers): the packer refuses and warns by these, and docs/release.md quotes them.
#pragma once

#include <cstdint>

namespace qarv {

// A run holds the payload twice, each copy in one contiguous range of its address space: the
// image maps the resource, and the drop copies it to one heap block. A 32-bit process gets 2 GiB
// on 32-bit Windows (the large-address-aware mark changes nothing there) and 4 GiB under 64-bit
// Windows with the mark, which the launcher carries. Each limit is the largest payload a measured
// run completed with under that much address space, less a margin for the DLLs and heaps that
// share it; docs/release.md ("Large installers") gives the runs behind them.

// Largest payload for 64-bit Windows (4 GiB): the packer refuses anything larger.
constexpr std::uint64_t kLargestPayload = 1740000000;

// Largest payload for 32-bit Windows (2 GiB): above it, the packer warns that only 64-bit Windows
// can run the launcher; a 32-bit PC ends such a run with the setup error (exit code 1603).
constexpr std::uint64_t kLargestPayloadOn32BitWindows = 700000000;

}  // namespace qarv
