// Pseudo-random APDUs (fixed seed) against every model, plain and protected
// (wrapped under the card's key after a GET CHALLENGE, some of them then
// damaged): no crash, an answer of at least a status word every time, and a
// card image that still loads.
#include "tests/cardmodel/host_crypto.h"

#include <random>

namespace ombrix::sim::testing {
namespace {

class Robustness : public ::testing::TestWithParam<Model> {};

Bytes random_apdu(std::mt19937& rng, Model model)
{
    static constexpr std::uint8_t kClasses[] = {0x00, 0x00, 0x00, 0x80, 0xB0, 0x0C, 0x10, 0x01, 0x84, 0x1C, 0x8C};
    static constexpr std::uint8_t kIns[] = {0xA4, 0xB0, 0xD6, 0xB2, 0xDC, 0xE2, 0xE0, 0xE4, 0xCA, 0x10,
                                            0x20, 0x24, 0x2C, 0xEA, 0x84, 0x82, 0x22, 0x2A};
    auto byte = [&] { return static_cast<std::uint8_t>(rng() & 0xFF); };
    Bytes cmd;
    const unsigned shape = rng() % 10;
    if (shape == 0) { // anything at all
        cmd.resize(rng() % 12);
        for (auto& b : cmd)
            b = byte();
        return cmd;
    }
    cmd.push_back(rng() % 4 == 0 ? byte() : kClasses[rng() % std::size(kClasses)]);
    cmd.push_back(rng() % 8 == 0 ? byte() : kIns[rng() % std::size(kIns)]);
    cmd.push_back(rng() % 2 ? byte() : static_cast<std::uint8_t>(rng() % 10));
    cmd.push_back(rng() % 2 ? byte() : static_cast<std::uint8_t>((rng() % 2) * 4));
    if (shape == 1)
        return cmd;
    Bytes data;
    if (cmd[1] == 0xE0 && rng() % 2) { // a plausible template, randomly damaged
        const std::uint8_t outer = model == Model::R22 ? 0x62 : 0x6F;
        data = {outer, 0x10, 0x81, 0x02, byte(), byte(), 0x82, 0x03,
                static_cast<std::uint8_t>(rng() % 2 ? 0x38 : (1 + rng() % 5)), 0x00, byte(),
                0x83, 0x02, 0x40, static_cast<std::uint8_t>(rng() % 16), 0x86, 0x01, 0x00};
        if (rng() % 2)
            data[rng() % data.size()] = byte();
    } else if (cmd[1] == 0xA4 || cmd[1] == 0xE4) {
        static constexpr std::uint16_t kFids[] = {0x3F00, 0x5000, 0x5001, 0x5002, 0x5003, 0x6000, 0x0001, 0x4001};
        for (unsigned n = rng() % 3 + 1; n > 0; --n) {
            const std::uint16_t fid = kFids[rng() % std::size(kFids)];
            data.push_back(static_cast<std::uint8_t>(fid >> 8));
            data.push_back(static_cast<std::uint8_t>(fid));
        }
    } else {
        data.resize(rng() % 40);
        for (auto& b : data)
            b = byte();
    }
    const bool with_le = rng() % 2;
    const bool with_data = shape > 3 && !data.empty();
    if (with_data) {
        cmd.push_back(static_cast<std::uint8_t>(data.size()));
        cmd.insert(cmd.end(), data.begin(), data.end());
    }
    if (with_le || !with_data)
        cmd.push_back(byte());
    if (rng() % 16 == 0 && !cmd.empty())
        cmd.pop_back(); // an Lc that lies
    return cmd;
}

// A plain command's header and data, wrapped for the challenge the card
// just gave; one time in three a byte of it is then changed.
Bytes random_protected(std::mt19937& rng, OmbrixCard& card)
{
    const Bytes challenge = card.transmit(hex("00 84 00 00 08"));
    if (challenge.size() != 10)
        return hex("0C B0 00 00");
    const Bytes plain = random_apdu(rng, card.model());
    Bytes header(plain.begin(), plain.begin() + std::min<std::size_t>(plain.size(), 4));
    header.resize(4, 0x00);
    header[0] &= 0x13; // an interindustry class, chained or not
    Bytes data(rng() % 60);
    for (auto& b : data)
        b = static_cast<std::uint8_t>(rng());
    Bytes cmd = wrap_c(header, data, card_key(card), Bytes(challenge.begin(), challenge.begin() + 8));
    if (rng() % 3 == 0)
        cmd[rng() % cmd.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
    return cmd;
}

TEST_P(Robustness, RandomApdusNeverBreakTheCard)
{
    std::mt19937 rng(0x0B1C + static_cast<unsigned>(GetParam()));
    const bool second = GetParam() != Model::R1;
    for (const char* image : {"demo", "blank"}) {
        auto card = OmbrixCard::builtin(GetParam(), image, 9);
        ASSERT_NE(card, nullptr);
        for (int i = 0; i < 4000; ++i) {
            const Bytes cmd = second && rng() % 6 == 0 ? random_protected(rng, *card) : random_apdu(rng, GetParam());
            const Bytes r = card->transmit(cmd);
            ASSERT_GE(r.size(), 2u) << to_hex(cmd);
            ASSERT_LE(r.size(), 258u) << to_hex(cmd);
            if (i % 500 == 0)
                card->reset();
        }
        std::string error;
        auto copy = OmbrixCard::from_json(card->to_json(), &error);
        ASSERT_NE(copy, nullptr) << error;
        EXPECT_EQ(copy->to_json(), card->to_json());
    }
}

INSTANTIATE_TEST_SUITE_P(AllModels, Robustness, ::testing::ValuesIn(kAllModels), model_param_name);

} // namespace
} // namespace ombrix::sim::testing
