// Internal: executable packages as the card keeps them. A package is an
// executable EF (descriptor 21) whose content LOAD EXECUTABLE activated; the
// card lists it in GET DATA 01 88 with a six-byte entry: the file's
// identifier, the package identifier (the image's first two bytes) and the
// image length, each high byte first.
#pragma once

#include "sim/card.h"
#include "sim/card/file_system.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ombrix::sim::card {

inline constexpr std::size_t kPackageEntrySize = 6;
inline constexpr std::size_t kActivationBlockSize = 8;
using PackageId = std::array<std::uint8_t, 2>;
using ActivationBlock = std::array<std::uint8_t, kActivationBlockSize>;

// The channel-management package ("MC"): MANAGE CHANNEL works only while it
// is active.
inline constexpr PackageId kChannelPackage{0x4D, 0x43};

// The block that activates `image`: the first eight bytes of its SHA-256.
ActivationBlock activation_block(std::span<const std::uint8_t> image);

// The list entry of the package held in executable EF `fid`. The image must
// be at least two bytes long (its identifier).
Bytes package_entry(std::uint16_t fid, std::span<const std::uint8_t> image);

// An entry of `packages` names package `id` (its bytes 2 and 3).
bool package_listed(const std::vector<Bytes>& packages, PackageId id);

// Forgets the packages whose files are in the subtree `root` (a deleted
// file takes its package with it). An entry goes only with the file it
// describes: same identifier, same package identifier, same length.
void forget_packages_in(std::vector<Bytes>& packages, const FileNode& root);

} // namespace ombrix::sim::card
