// libFuzzer target: the inspector's DER and Authenticode reader. An input that starts with "MZ" is
// a whole file; any other input is the PKCS#7 signature in the certificate table of a minimal
// PE32+ image made here, so that the fuzzer spends its time in the DER rather than the headers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "authenticode.h"

namespace {

void Put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// MZ, PE signature, file header, a PE32+ optional header of 16 directories, then the certificate
// table: one WIN_CERTIFICATE (revision 2.0, PKCS#7 signed data) holding `signature`.
std::vector<std::uint8_t> SignedImage(const std::uint8_t* signature, std::size_t size) {
    constexpr std::size_t kPe = 0x40, kOptional = kPe + 24, kOptionalSize = 240, kTable = kOptional + kOptionalSize;
    std::vector<std::uint8_t> image(kTable + 8 + size, 0);
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 0x3C, kPe);
    std::memcpy(image.data() + kPe, "PE\0\0", 4);
    Put16(image, kPe + 4, 0x8664);
    Put16(image, kPe + 20, kOptionalSize);
    Put16(image, kOptional, 0x20B);
    Put32(image, kOptional + 108, 16);
    Put32(image, kOptional + 112 + 8 * 4, static_cast<std::uint32_t>(kTable));
    Put32(image, kOptional + 112 + 8 * 4 + 4, static_cast<std::uint32_t>(8 + size));
    Put32(image, kTable, static_cast<std::uint32_t>(8 + size));
    Put16(image, kTable + 4, 0x0200);
    Put16(image, kTable + 6, 0x0002);
    if (size != 0) std::memcpy(image.data() + kTable + 8, signature, size);
    return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qarv::tools;
    if (size >= 2 && data[0] == 'M' && data[1] == 'Z') {
        inspector::CheckAuthenticode(ByteView(data, size));
        return 0;
    }
    const std::vector<std::uint8_t> image = SignedImage(data, size);
    inspector::CheckAuthenticode(ByteView(image.data(), image.size()));
    return 0;
}
