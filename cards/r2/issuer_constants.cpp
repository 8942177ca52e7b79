// DEMONSTRATION VALUES. These are not any issuer's keys: cards personalized
// by a real issuer do not accept them. Build with
// -DOMBRIX_ISSUER_CONSTANTS=/path/to/your_constants.cpp (a file defining the
// functions of cards/r2/issuer_constants.h) to use your own.
#include "cards/r2/issuer_constants.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace ombrix::issuer {

namespace {

// Demonstration master key: the ASCII text "OMBRIX-DEMO-MASTER-KEY!!",
// as three 8-byte DES keys (parity bits are not used).
constexpr std::array<std::uint8_t, 8> kDemoMasterK1 = {'O', 'M', 'B', 'R', 'I', 'X', '-', 'D'};
constexpr std::array<std::uint8_t, 8> kDemoMasterK2 = {'E', 'M', 'O', '-', 'M', 'A', 'S', 'T'};
constexpr std::array<std::uint8_t, 8> kDemoMasterK3 = {'E', 'R', '-', 'K', 'E', 'Y', '!', '!'};

// Demonstration transport key: "DEMO-TRANSPORT16" (K1 = "DEMO-TRA", K2 = "NSPORT16").
constexpr std::array<std::uint8_t, kTransportKeySize> kDemoTransportKey = {
    'D', 'E', 'M', 'O', '-', 'T', 'R', 'A', 'N', 'S', 'P', 'O', 'R', 'T', '1', '6'};

// Demonstration FORMAT body: the format data 6F 24, 85 03 01 04 00 (an MF of
// size 04 00), 86 09 and nine 00 (every operation allowed), 8B 12 and
// eighteen FF, protected as SM_ENC_SIG_4 of 84 40 00 01 under the
// demonstration transport key: the cryptogram of data ‖ MAC, ISO padded.
constexpr std::array<std::uint8_t, kFormatBodySize> kFormatBody = {
    0xC0, 0xEF, 0x98, 0x80, 0xB3, 0xC9, 0x49, 0x53, 0xDC, 0x59, 0x18, 0x52, 0x42, 0x2C, 0x0D, 0x0B,
    0xB8, 0x38, 0x7C, 0xEB, 0xCC, 0xE7, 0x28, 0x33, 0x14, 0xD8, 0xEA, 0x7F, 0x6D, 0x16, 0x0C, 0xC0,
    0xE3, 0x38, 0x67, 0x50, 0x37, 0x5F, 0x6C, 0x74, 0x00, 0xAB, 0x24, 0x00, 0x05, 0xC9, 0xEA, 0x1F};

// DEMONSTRATION PACKAGES: no code runs from them. Each image is the package
// identifier (2 bytes), the image length (2 bytes, high byte first), a label
// ending in 00, then filler byte i = low byte of (167 i + seed) XOR (i >> 8).
// An activation block is the first 8 bytes of the SHA-256 of its image: the
// virtual card activates an image only when the two agree. An issuer's
// packages come as a file of their own, with activation blocks the issuer's
// cards check in their own way.
template <std::size_t N>
constexpr std::array<std::uint8_t, N> demo_image(std::uint8_t id1, std::uint8_t id2,
                                                 std::string_view label, std::uint8_t seed)
{
    std::array<std::uint8_t, N> image{};
    image[0] = id1;
    image[1] = id2;
    image[2] = static_cast<std::uint8_t>(N >> 8);
    image[3] = static_cast<std::uint8_t>(N & 0xFF);
    std::size_t i = 4;
    for (char c : label)
        image[i++] = static_cast<std::uint8_t>(c);
    image[i++] = 0x00;
    for (; i < N; ++i)
        image[i] = static_cast<std::uint8_t>((i * 167 + seed) ^ (i >> 8));
    return image;
}

// Key generation, package 47 4B ("GK").
constexpr auto kGenKeyImage = demo_image<kGenKeyImageSize>(
    0x47, 0x4B,
    "OMBRIX DEMONSTRATION PACKAGE: key generation. Not an issuer's package: replace it with "
    "the issuer's own file.",
    0x07);
constexpr std::array<std::uint8_t, kActivationSize> kGenKeyActivation = {
    0xC2, 0x61, 0x08, 0x1B, 0x97, 0xCD, 0xD4, 0x2E};

// Logical channels, package 4D 43 ("MC").
constexpr auto kChannelImage = demo_image<kChannelImageSize>(
    0x4D, 0x43,
    "OMBRIX DEMONSTRATION PACKAGE: logical channels. Not an issuer's package: replace it with "
    "the issuer's own file.",
    0x08);
constexpr std::array<std::uint8_t, kActivationSize> kChannelActivation = {
    0x98, 0x69, 0xD1, 0x46, 0x57, 0xF1, 0x3A, 0x8B};

} // namespace

void master_key(std::span<std::uint8_t, kMasterKeySize> out)
{
    std::copy(kDemoMasterK1.begin(), kDemoMasterK1.end(), out.begin());
    std::copy(kDemoMasterK2.begin(), kDemoMasterK2.end(), out.begin() + 8);
    std::copy(kDemoMasterK3.begin(), kDemoMasterK3.end(), out.begin() + 16);
}

std::span<const std::uint8_t, kTransportKeySize> default_transport_key() { return kDemoTransportKey; }
std::span<const std::uint8_t, kFormatBodySize> format_body() { return kFormatBody; }
std::span<const std::uint8_t, kGenKeyImageSize> gen_key_package_image() { return kGenKeyImage; }
std::span<const std::uint8_t, kActivationSize> gen_key_activation() { return kGenKeyActivation; }
std::span<const std::uint8_t, kChannelImageSize> channel_package_image() { return kChannelImage; }
std::span<const std::uint8_t, kActivationSize> channel_activation() { return kChannelActivation; }

} // namespace ombrix::issuer
