// Helpers for the card-model tests: APDUs and answers written in hex.
#pragma once

#include "sim/card/ombrix_card.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>

namespace ombrix::sim::testing {

// "00 A4 00 00 02 3F 00" -> bytes; spaces are ignored. Fails the test on bad
// hex.
inline Bytes hex(std::string_view text)
{
    Bytes out;
    int high = -1;
    for (const char c : text) {
        if (c == ' ')
            continue;
        int v = -1;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        EXPECT_GE(v, 0) << "bad hex in test: " << text;
        if (v < 0)
            return {};
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    EXPECT_LT(high, 0) << "odd hex in test: " << text;
    return out;
}

inline std::string to_hex(const Bytes& bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0)
            out.push_back(' ');
        out.push_back(kDigits[bytes[i] >> 4]);
        out.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return out;
}

struct Answer {
    Bytes data;
    std::uint16_t sw = 0;
};

inline Answer send(Card& card, std::string_view apdu)
{
    const Bytes cmd = hex(apdu);
    Bytes r = card.transmit(cmd);
    EXPECT_GE(r.size(), 2u) << "answer shorter than a status word to " << apdu;
    if (r.size() < 2)
        return {};
    Answer a;
    a.sw = static_cast<std::uint16_t>(r[r.size() - 2] << 8 | r[r.size() - 1]);
    r.resize(r.size() - 2);
    a.data = std::move(r);
    return a;
}

inline std::uint16_t sw(Card& card, std::string_view apdu)
{
    return send(card, apdu).sw;
}

inline std::string text(std::string_view s)
{
    return to_hex(Bytes(s.begin(), s.end()));
}

inline std::unique_ptr<OmbrixCard> demo(Model model, std::uint32_t serial = 1)
{
    auto card = OmbrixCard::builtin(model, "demo", serial);
    EXPECT_NE(card, nullptr);
    return card;
}

inline std::string model_param_name(const ::testing::TestParamInfo<Model>& info)
{
    return std::string(model_name(info.param));
}

} // namespace ombrix::sim::testing
