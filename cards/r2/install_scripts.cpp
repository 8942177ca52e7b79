// The two fixed installation scripts: create the package's file, write the
// image into it in chunks, activate it with LOAD EXECUTABLE (always class 80).
// A step the card refuses ends the script and nothing is undone: the file
// stays created and partly written, so running the script again stops at
// CREATE FILE (6A89) until the file is deleted.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"
#include "cards/r2/issuer_constants.h"
#include "ombrix/descriptor_codes.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

using ombrix::r2::Command;
namespace issuer = ombrix::issuer;

namespace {

constexpr unsigned char kInsSelect = 0xA4;
constexpr unsigned char kInsCreateFile = 0xE0;
constexpr unsigned char kInsUpdateBinary = 0xD6;
constexpr unsigned char kInsLoadExecutable = 0x20;
constexpr unsigned char kClassProprietary = 0x80;
constexpr std::uint8_t kExecutable = ombrix::descriptor::kFileExecutable;

constexpr std::uint8_t hi(std::size_t v) { return static_cast<std::uint8_t>(v >> 8); }
constexpr std::uint8_t lo(std::size_t v) { return static_cast<std::uint8_t>(v & 0xFF); }

// File control parameters: size, descriptor, identifier, 85 (three 00), and
// the access conditions.
constexpr std::array<std::uint8_t, 28> kGenKeyFcp = {
    0x6F, 0x1A,
    0x81, 0x02, hi(issuer::kGenKeyImageSize), lo(issuer::kGenKeyImageSize),
    0x82, 0x03, kExecutable, 0x00, 0x00,
    0x83, 0x02, 0xCF, 0x07,
    0x85, 0x03, 0x00, 0x00, 0x00,
    0x86, 0x06, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr std::array<std::uint8_t, 31> kChannelFcp = {
    0x6F, 0x1D,
    0x81, 0x02, hi(issuer::kChannelImageSize), lo(issuer::kChannelImageSize),
    0x82, 0x03, kExecutable, 0x00, 0x00,
    0x83, 0x02, 0xCF, 0x08,
    0x85, 0x03, 0x00, 0x00, 0x00,
    0x86, 0x09, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF};
static_assert(kGenKeyFcp[1] + 2 == kGenKeyFcp.size() && kChannelFcp[1] + 2 == kChannelFcp.size());

constexpr std::size_t kGenKeyChunk = 96;
constexpr std::size_t kChannelChunk = 240;

struct Package {
    std::span<const std::uint8_t> fcp;
    std::span<const std::uint8_t> image;
    std::size_t chunk;
    std::span<const std::uint8_t> activation;
};

// CREATE FILE, the UPDATE BINARY chunks at their offsets, LOAD EXECUTABLE;
// `send(cla, ins, p1, p2, data)` gives 0 for 9000, and anything else ends
// the script with that result.
template <class Send> long install(const Package& package, Send&& send)
{
    if (long rc = send(0x00, kInsCreateFile, 0x00, 0x00, package.fcp); rc != 0)
        return rc;
    for (std::size_t offset = 0; offset < package.image.size(); offset += package.chunk) {
        const std::size_t n = std::min(package.chunk, package.image.size() - offset);
        if (long rc = send(0x00, kInsUpdateBinary, hi(offset), lo(offset),
                           package.image.subspan(offset, n));
            rc != 0)
            return rc;
    }
    return send(kClassProprietary, kInsLoadExecutable, 0x00, 0x00, package.activation);
}

} // namespace

// Key generation: file CF 07 in the current DF, 45 chunks of 96 bytes and
// one of 39; the status word checked after each of the 48 commands.
long COmbrixR2::LoadGenKey()
{
    const Package package{kGenKeyFcp, issuer::gen_key_package_image(), kGenKeyChunk,
                          issuer::gen_key_activation()};
    return install(package, [this](unsigned char cla, unsigned char ins, unsigned char p1,
                                   unsigned char p2, std::span<const std::uint8_t> data) {
        Command cmd(*this, cla, ins, p1, p2);
        return cmd.data(data).send();
    });
}

// Logical channels: SELECT of the MF, then file CF 08 there, 3 chunks of 240
// bytes and one of 7: 7 commands, each through the three-argument Send.
long COmbrixR2::ManageChannelPackage()
{
    std::array<unsigned char, 255> buffer{};
    auto send = [this, &buffer](unsigned char cla, unsigned char ins, unsigned char p1,
                                unsigned char p2, std::span<const std::uint8_t> data) {
        std::copy(data.begin(), data.end(), buffer.begin());
        const APDU apdu{cla, ins, p1, p2, static_cast<unsigned char>(data.size()),
                        data.empty() ? nullptr : buffer.data(), 0};
        return Send(apdu, nullptr, nullptr);
    };
    if (long rc = send(0x00, kInsSelect, 0x00, 0x00, {}); rc != 0)
        return rc;
    const Package package{kChannelFcp, issuer::channel_package_image(), kChannelChunk,
                          issuer::channel_activation()};
    return install(package, send);
}
