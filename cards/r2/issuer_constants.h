// The card issuer's constants: the master key under which every card's
// secure-messaging key was personalized, the transport configuration and the
// executable package images. The library's default file holds demonstration
// values; an integrator builds with a file of their own
// (-DOMBRIX_ISSUER_CONSTANTS=/path/to/file.cpp) that defines these functions.
// The virtual card uses the same values, so it can be personalized to match.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace ombrix::issuer {

constexpr std::size_t kMasterKeySize = 24;       // k1 ‖ k2 ‖ k3
constexpr std::size_t kTransportKeySize = 16;    // K1 ‖ K2
constexpr std::size_t kFormatBodySize = 48;
constexpr std::size_t kGenKeyImageSize = 4359;
constexpr std::size_t kChannelImageSize = 727;
constexpr std::size_t kActivationSize = 8;

// Assembles the master key into `out`; the caller wipes it after use.
void master_key(std::span<std::uint8_t, kMasterKeySize> out);

// The default two-key triple-DES transport key of ERASE FILE and CHANGE KEY.
std::span<const std::uint8_t, kTransportKeySize> default_transport_key();

// The protected body of the argument-less FORMAT, sent unchanged (Lc 30).
std::span<const std::uint8_t, kFormatBodySize> format_body();

// The executable packages and their activation data (the LOAD EXECUTABLE
// data of each). The library sends them as they are; in the demonstration
// file an activation block is the first 8 bytes of its image's SHA-256.
std::span<const std::uint8_t, kGenKeyImageSize> gen_key_package_image();
std::span<const std::uint8_t, kActivationSize> gen_key_activation();
std::span<const std::uint8_t, kChannelImageSize> channel_package_image();
std::span<const std::uint8_t, kActivationSize> channel_activation();

} // namespace ombrix::issuer
