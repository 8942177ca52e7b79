#include "sim/card/apdu.h"

namespace ombrix::sim::card {

Command parse_command(std::span<const std::uint8_t> raw)
{
    if (raw.size() < 4)
        refuse(sw::kWrongLength);
    Command cmd;
    cmd.cla = raw[0];
    cmd.ins = raw[1];
    cmd.p1 = raw[2];
    cmd.p2 = raw[3];
    const auto body = raw.subspan(4);
    if (body.empty())
        return cmd; // case 1
    if (body.size() == 1) {
        cmd.le = body[0] == 0 ? 256 : body[0]; // case 2
        return cmd;
    }
    const std::size_t lc = body[0];
    // Lc 00 followed by more bytes would be an extended-length APDU, which
    // the card does not support.
    if (lc == 0)
        refuse(sw::kWrongLength);
    if (body.size() == 1 + lc) {
        cmd.data.assign(body.begin() + 1, body.end()); // case 3
        return cmd;
    }
    if (body.size() == 2 + lc) {
        cmd.data.assign(body.begin() + 1, body.begin() + 1 + static_cast<std::ptrdiff_t>(lc));
        cmd.le = body.back() == 0 ? 256 : body.back(); // case 4
        return cmd;
    }
    refuse(sw::kWrongLength);
}

std::optional<std::vector<Tlv>> parse_tlvs(std::span<const std::uint8_t> bytes)
{
    std::vector<Tlv> out;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::uint8_t tag = bytes[pos++];
        if (tag == 0x00 || tag == 0xFF || (tag & 0x1F) == 0x1F)
            return std::nullopt;
        if (pos >= bytes.size())
            return std::nullopt;
        std::size_t len = bytes[pos++];
        if (len == 0x81) {
            if (pos >= bytes.size())
                return std::nullopt;
            len = bytes[pos++];
            if (len < 0x80) // not the shortest form
                return std::nullopt;
        } else if (len > 0x80) {
            return std::nullopt; // longer length forms exceed a short APDU anyway
        } else if (len == 0x80) {
            return std::nullopt; // indefinite length
        }
        if (len > bytes.size() - pos)
            return std::nullopt;
        out.push_back({tag, bytes.subspan(pos, len)});
        pos += len;
    }
    return out;
}

void append_tlv(Bytes& out, std::uint8_t tag, std::span<const std::uint8_t> value)
{
    out.push_back(tag);
    if (value.size() >= 0x80)
        out.push_back(0x81);
    out.push_back(static_cast<std::uint8_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
}

std::string to_hex(std::span<const std::uint8_t> bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const std::uint8_t b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
    }
    return out;
}

namespace {
int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace

std::optional<Bytes> from_hex(std::string_view text)
{
    Bytes out;
    int high = -1;
    for (const char c : text) {
        if (c == ' ')
            continue;
        const int v = hex_value(c);
        if (v < 0)
            return std::nullopt;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0)
        return std::nullopt;
    return out;
}

} // namespace ombrix::sim::card
