// Helpers for the card-model tests: APDUs and answers written in hex.
#pragma once

#include "sim/card/ombrix_card.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace ombrix::sim::testing {

// "00 A4 00 00 02 3F 00" -> bytes; spaces are ignored. Fails the test on bad
// hex.
inline Bytes hex(std::string_view text)
{
    std::string digits;
    for (const char c : text)
        if (c != ' ')
            digits.push_back(c);
    Bytes out;
    EXPECT_EQ(digits.size() % 2, 0u) << "odd hex in test: " << text;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        const bool ok = std::isxdigit(static_cast<unsigned char>(digits[i])) &&
                        std::isxdigit(static_cast<unsigned char>(digits[i + 1]));
        EXPECT_TRUE(ok) << "bad hex in test: " << text;
        if (!ok)
            return {};
        out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
    return out;
}

inline std::string to_hex(const Bytes& bytes)
{
    std::string out;
    char byte[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", bytes[i]);
        out += byte;
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

// A test name from a table case's `what`.
template <class Case>
std::string what_name(const ::testing::TestParamInfo<Case>& info)
{
    std::string name;
    for (const char c : std::string(info.param.what))
        name.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
    return name;
}

// " 00 00 00": `byte` n times, each after a space.
inline std::string rep(const char* byte, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += std::string(" ") + byte;
    return out;
}

// The header, Lc counted from `data`, and the data.
inline std::string with_lc(const std::string& header, const std::string& data)
{
    char lc[4];
    std::snprintf(lc, sizeof lc, "%02X", static_cast<unsigned>(hex(data).size()));
    return header + " " + lc + " " + data;
}

// A demo card in administration (life cycle 20).
inline std::unique_ptr<OmbrixCard> admin(Model model)
{
    auto card = demo(model);
    EXPECT_EQ(sw(*card, model == Model::R1 ? "B0 10 00 00" : "80 10 00 00"), 0x9000);
    return card;
}

} // namespace ombrix::sim::testing
