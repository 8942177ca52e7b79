#include "sim/pcsc/inproc_pcsc.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace ombrix::sim {

Bytes hex(std::string_view text)
{
    Bytes out;
    int high = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)) || c == ':')
            continue;
        int value;
        if (c >= '0' && c <= '9')
            value = c - '0';
        else if (c >= 'a' && c <= 'f')
            value = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            value = c - 'A' + 10;
        else
            throw std::invalid_argument("bad hex digit in \"" + std::string(text) + "\"");
        if (high < 0) {
            high = value;
        } else {
            out.push_back(static_cast<std::uint8_t>(high << 4 | value));
            high = -1;
        }
    }
    if (high >= 0)
        throw std::invalid_argument("odd number of hex digits in \"" + std::string(text) + "\"");
    return out;
}

std::string to_hex(std::span<const std::uint8_t> bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

ScriptedCard::ScriptedCard(Bytes atr) : atr_(std::move(atr)) {}

Bytes ScriptedCard::default_atr() { return hex("3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 00 01 00 00 00 00 6A"); }

ScriptedCard& ScriptedCard::expect(std::string_view command_hex, std::string_view response_hex)
{
    steps_.push_back({false, hex(command_hex), hex(response_hex)});
    return *this;
}

ScriptedCard& ScriptedCard::answer(std::string_view response_hex)
{
    steps_.push_back({true, {}, hex(response_hex)});
    return *this;
}

ScriptedCard& ScriptedCard::otherwise(std::string_view response_hex)
{
    has_otherwise_ = true;
    otherwise_ = hex(response_hex);
    return *this;
}

Bytes ScriptedCard::transmit(std::span<const std::uint8_t> command)
{
    received_.emplace_back(command.begin(), command.end());
    const std::size_t step = received_.size();
    if (next_ == steps_.size()) {
        if (has_otherwise_)
            return otherwise_;
        errors_.push_back("At step " + std::to_string(step) + ": unexpected command " +
                          to_hex(command) + " after the end of the script");
        return {0x6F, 0x00};
    }
    const Step& s = steps_[next_++];
    if (!s.any && !std::equal(s.command.begin(), s.command.end(), command.begin(), command.end())) {
        errors_.push_back("At step " + std::to_string(step) + ": unexpected command " +
                          to_hex(command) + ", expected " + to_hex(s.command));
        return {0x6F, 0x00};
    }
    return s.response;
}

} // namespace ombrix::sim
