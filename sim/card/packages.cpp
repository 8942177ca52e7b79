// Executable packages: LOAD EXECUTABLE activates the image written into the
// current EF, and the card keeps a list entry per active package (GET DATA
// 01 88 answers the list).
#include "sim/card/packages.h"

#include "sim/card/card_os.h"

#include "include/ombrix/descriptor_codes.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <stdexcept>

namespace ombrix::sim::card {

namespace {

// The list holds what one answer of the host's listing (Le 80: 128 bytes)
// carries whole.
constexpr std::size_t kMaxPackages = 0x80 / kPackageEntrySize;

PackageId id_of(std::span<const std::uint8_t> image)
{
    return {image[0], image[1]};
}

bool names(const Bytes& entry, PackageId id)
{
    return entry.size() == kPackageEntrySize && entry[2] == id[0] && entry[3] == id[1];
}

// The file is the one `entry` was made from.
bool describes(const Bytes& entry, const FileNode& file)
{
    if (file.fdb != descriptor::kFileExecutable || file.data.size() < 2)
        return false;
    return entry == package_entry(file.fid, file.data);
}

void forget_each(std::vector<Bytes>& packages, const FileNode& node)
{
    std::erase_if(packages, [&](const Bytes& entry) { return describes(entry, node); });
    for (const auto& child : node.children)
        forget_each(packages, *child);
}

} // namespace

ActivationBlock activation_block(std::span<const std::uint8_t> image)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(image.data(), image.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length < kActivationBlockSize)
        throw std::runtime_error("SHA-256 failed"); // answered 6F00: nothing is activated
    ActivationBlock block{};
    std::copy_n(digest.begin(), block.size(), block.begin());
    return block;
}

Bytes package_entry(std::uint16_t fid, std::span<const std::uint8_t> image)
{
    const PackageId id = id_of(image);
    const std::size_t n = image.size();
    return Bytes{static_cast<std::uint8_t>(fid >> 8), static_cast<std::uint8_t>(fid), id[0], id[1],
                 static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
}

bool package_listed(const std::vector<Bytes>& packages, PackageId id)
{
    return std::any_of(packages.begin(), packages.end(), [&](const Bytes& e) { return names(e, id); });
}

void forget_packages_in(std::vector<Bytes>& packages, const FileNode& root)
{
    forget_each(packages, root);
}

// cla 20 P1 P2, Lc 8: the activation block of the current EF's whole
// content. Class 80 on every model (the installation scripts); class 84 on
// the revisions after R2, as a plain command. An activation of a package
// already listed replaces its entry: the list holds one entry per package.
Response CardOs::load_executable(const Command& cmd, Channel& ch)
{
    if (cmd.data.size() != kActivationBlockSize)
        refuse(sw::kWrongLength);
    if (cmd.p1p2() != 0)
        refuse(sw::kWrongP1P2);
    if (ch.current_ef == nullptr)
        refuse(sw::kNoCurrentEf);
    const FileNode& ef = *ch.current_ef;
    // An image too short to carry its package identifier is no package.
    if (ef.fdb != descriptor::kFileExecutable || ef.data.size() < 2)
        refuse(sw::kIncompatibleFileStructure);
    const ActivationBlock expected = activation_block(ef.data);
    if (CRYPTO_memcmp(expected.data(), cmd.data.data(), expected.size()) != 0)
        refuse(sw::kWrongData);
    const PackageId id = id_of(ef.data);
    auto& list = p_.packages;
    const auto same = std::find_if(list.begin(), list.end(), [&](const Bytes& e) { return names(e, id); });
    if (same != list.end()) {
        *same = package_entry(ef.fid, ef.data);
        return {};
    }
    if (list.size() >= kMaxPackages)
        refuse(sw::kNotEnoughMemory);
    list.push_back(package_entry(ef.fid, ef.data));
    return {};
}

} // namespace ombrix::sim::card
