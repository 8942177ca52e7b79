#include "tools/ombrix/command_apdu.h"

namespace ombrix::cli {

namespace {

ApduParse refuse(std::string why) { return ApduParse{std::nullopt, std::move(why)}; }

constexpr const char* kNoLe256 =
    "Le 00 (256 bytes) cannot be sent through the library's exchange; ask for 01 to FF bytes";

} // namespace

APDU CommandApdu::record()
{
    return APDU{cla, ins, p1, p2, static_cast<unsigned char>(data.size()),
                data.empty() ? nullptr : data.data(), le};
}

ApduParse parse_command(const Bytes& bytes)
{
    if (bytes.size() < 4)
        return refuse("a command APDU has at least 4 bytes (CLA INS P1 P2), got " +
                      std::to_string(bytes.size()));
    CommandApdu apdu;
    apdu.cla = bytes[0];
    apdu.ins = bytes[1];
    apdu.p1 = bytes[2];
    apdu.p2 = bytes[3];
    apdu.bytes = bytes;
    if (bytes.size() == 4)
        return ApduParse{std::move(apdu), {}};
    if (bytes.size() == 5) {
        if (bytes[4] == 0)
            return refuse(kNoLe256);
        apdu.le = bytes[4];
        return ApduParse{std::move(apdu), {}};
    }
    const std::size_t lc = bytes[4];
    if (lc == 0)
        return refuse("Lc 00 starts an extended-length APDU, which the library does not send");
    if (bytes.size() != 5 + lc && bytes.size() != 6 + lc)
        return refuse("Lc is " + std::to_string(lc) + " but " + std::to_string(bytes.size() - 5) +
                      " bytes follow it (expected " + std::to_string(lc) + ", or " +
                      std::to_string(lc + 1) + " with Le)");
    apdu.data.assign(bytes.begin() + 5, bytes.begin() + 5 + static_cast<std::ptrdiff_t>(lc));
    if (bytes.size() == 6 + lc) {
        if (bytes.back() == 0)
            return refuse(kNoLe256);
        apdu.le = bytes.back();
    }
    return ApduParse{std::move(apdu), {}};
}

} // namespace ombrix::cli
