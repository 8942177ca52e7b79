// DEMONSTRATION VALUES. These are not any issuer's keys: cards personalized
// by a real issuer do not accept them. Build with
// -DOMBRIX_ISSUER_CONSTANTS=/path/to/your_constants.cpp (a file defining the
// functions of cards/r2/issuer_constants.h) to use your own.
#include "cards/r2/issuer_constants.h"

#include <algorithm>
#include <array>

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

// PLACEHOLDER: the protected FORMAT body of the issuer's transport
// configuration. Zeros until a value is supplied; a card refuses them.
constexpr std::array<std::uint8_t, kFormatBodySize> kFormatBody = {};

// PLACEHOLDERS: the package images and activation blocks come with the
// packages; zeros until they are supplied.
constexpr std::array<std::uint8_t, kGenKeyImageSize> kGenKeyImage = {};
constexpr std::array<std::uint8_t, kActivationSize> kGenKeyActivation = {};
constexpr std::array<std::uint8_t, kChannelImageSize> kChannelImage = {};
constexpr std::array<std::uint8_t, kActivationSize> kChannelActivation = {};

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
