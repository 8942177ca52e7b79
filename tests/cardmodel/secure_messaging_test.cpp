// Secure messaging on the card, against a host wrap written apart from the
// card: challenges, protected commands accepted, tampered, replayed or
// badly padded ones refused with nothing executed, protected answers and the
// `_4` family. The library's own wraps on the card run in its tests.
#include "tests/cardmodel/host_crypto.h"

namespace ombrix::sim::testing {
namespace {

constexpr const char* kSelectGuarded = "00 A4 08 00 04 50 00 50 07";
constexpr const char* kSelectGreeting = "00 A4 08 00 04 50 00 50 01";

class SecureMessaging : public ::testing::TestWithParam<Model> {
protected:
    void SetUp() override { card_ = demo(GetParam()); }
    std::unique_ptr<OmbrixCard> card_;
};

TEST_P(SecureMessaging, ChallengesAreFreshAndOfTheLengthAsked)
{
    const Answer a = send(*card_, "00 84 00 00 08");
    const Answer b = send(*card_, "00 84 00 00 08");
    ASSERT_EQ(a.sw, 0x9000);
    EXPECT_EQ(a.data.size(), 8u);
    EXPECT_NE(a.data, b.data);
    EXPECT_EQ(send(*card_, "00 84 00 00 F8").data.size(), 248u);
}

TEST_P(SecureMessaging, ATamperedReplayedOrUnchallengedCommandExecutesNothing)
{
    ASSERT_EQ(sw(*card_, kSelectGuarded), 0x9000);
    const Bytes before = *card_->file_data({0x5000, 0x5007});
    const Bytes key = card_key(*card_);
    const Bytes header = hex("00 D6 00 00");
    const Bytes data = hex("EE EE");

    // Every byte of the command matters: the class (here its channel bits),
    // the instruction, P1-P2 and the 87 object through the MAC, the MAC
    // itself. Lc is the APDU shape's.
    const std::size_t length = wrap_c(header, data, key, Bytes(8, 0)).size();
    for (std::size_t i = 0; i < length; ++i) {
        if (i == 4)
            continue;
        Bytes bad = wrap_c(header, data, key, send(*card_, "00 84 00 00 08").data);
        bad[i] ^= 0x01;
        const std::uint16_t expected = i == 0 ? 0x6881 : i == 1 ? 0x6D00 : 0x6988;
        EXPECT_EQ(send(*card_, bad).sw, expected) << "byte " << i;
    }
    EXPECT_EQ(*card_->file_data({0x5000, 0x5007}), before);

    // No challenge at all, a challenge spent by another command, a replay.
    EXPECT_EQ(send(*card_, wrap_c(header, data, key, Bytes(8, 0))).sw, 0x6988);
    const Bytes c1 = send(*card_, "00 84 00 00 08").data;
    ASSERT_EQ(sw(*card_, "00 CA 01 83"), 0x9000);
    EXPECT_EQ(send(*card_, wrap_c(header, data, key, c1)).sw, 0x6988);
    const Bytes c2 = send(*card_, "00 84 00 00 08").data;
    const Bytes once = wrap_c(header, data, key, c2);
    EXPECT_EQ(send(*card_, once).sw, 0x9000);
    EXPECT_EQ(send(*card_, once).sw, 0x6988);
    // A 16-byte challenge is not one the card keeps.
    const Bytes c16 = send(*card_, "00 84 00 00 10").data;
    EXPECT_EQ(send(*card_, wrap_c(header, data, key, Bytes(c16.begin(), c16.begin() + 8))).sw, 0x6988);
    // The card's key and no other.
    const Bytes c3 = send(*card_, "00 84 00 00 08").data;
    EXPECT_EQ(send(*card_, wrap_c(header, data, Bytes(16, 0x11), c3)).sw, 0x6988);
    EXPECT_EQ(card_->file_data({0x5000, 0x5007})->at(0), 0xEE);
    EXPECT_EQ(card_->file_data({0x5000, 0x5007})->at(2), before.at(2));
}

TEST_P(SecureMessaging, BadPaddingUnderAGoodMacIsRefused)
{
    ASSERT_EQ(sw(*card_, kSelectGuarded), 0x9000);
    const Bytes key = card_key(*card_);
    // A cryptogram of data without the 80 padding byte, correctly MACed.
    const Bytes apdu = wrap_c(hex("00 D6 00 00"), hex("AA BB CC DD EE FF 11 22"), key,
                              send(*card_, "00 84 00 00 08").data, false);
    EXPECT_EQ(send(*card_, apdu).sw, 0x6988);
    EXPECT_NE(card_->file_data({0x5000, 0x5007})->at(0), 0xAA);
}

TEST_P(SecureMessaging, ProtectedChainedVerifyFetchesAChallengePerPiece)
{
    // The biometric template of PIN 03, in eight protected pieces.
    const Bytes record = biometric_record();
    for (std::size_t off = 0; off < 720; off += 100) {
        const std::size_t n = std::min<std::size_t>(100, 720 - off);
        const std::string header = off + n < 720 ? "10 20 00 83" : "00 20 00 83";
        ASSERT_EQ(send_protected(*card_, header, to_hex(Bytes(record.begin() + off, record.begin() + off + n))).sw,
                  0x9000);
    }
    EXPECT_EQ(to_hex(send(*card_, "00 CA 01 84").data), "83");
}

INSTANTIATE_TEST_SUITE_P(SecondGeneration, SecureMessaging,
                         ::testing::Values(Model::R2, Model::R21, Model::R21v, Model::R22, Model::R23,
                                           Model::R23v),
                         model_param_name);

// The 81 / 87 / 8E answer of the card's protected-answer modes, checked on the
// host side: the MAC over challenge ‖ header ‖ objects, the cryptogram.
TEST(ProtectedAnswers, EachModeAnswersItsObjects)
{
    for (const char* mode : {"mac", "enc", "enc-mac"}) {
        SCOPED_TRACE(mode);
        auto image = demo(Model::R23)->to_json();
        image["responses"] = mode;
        auto card = OmbrixCard::from_json(image);
        ASSERT_NE(card, nullptr);
        const Bytes key = card_key(*card);
        ASSERT_EQ(sw(*card, kSelectGreeting), 0x9000);
        const Bytes challenge = send(*card, "00 84 00 00 08").data;
        const Answer a = send(*card, wrap_c(hex("00 B0 00 00"), {}, key, challenge));
        ASSERT_EQ(a.sw, 0x9000);
        const Bytes plain = *card->file_data({0x5000, 0x5001});
        const bool enc = std::string_view(mode) != "mac";
        const bool signed_ = std::string_view(mode) != "enc";
        Bytes objects(a.data.begin(), a.data.end() - (signed_ ? 10 : 0));
        if (signed_) {
            Bytes mac_input = challenge;
            mac_input.insert(mac_input.end(), {0x0C, 0xB0, 0x00, 0x00, 0, 0, 0, 0});
            mac_input.insert(mac_input.end(), objects.begin(), objects.end());
            EXPECT_EQ(Bytes(a.data.end() - 8, a.data.end()), mac(key, mac_input));
            EXPECT_EQ(to_hex(Bytes(a.data.end() - 10, a.data.end() - 8)), "8E 08");
        }
        if (enc) {
            ASSERT_EQ(objects[0], 0x87);
            const Bytes deciphered = tdes_cbc(key, Bytes(objects.begin() + 3, objects.end()), false);
            EXPECT_EQ(Bytes(deciphered.begin(), deciphered.begin() + 128), plain);
            EXPECT_EQ(deciphered.at(128), 0x80);
        } else {
            EXPECT_EQ(to_hex(Bytes(objects.begin(), objects.begin() + 2)), "81 80");
            EXPECT_EQ(Bytes(objects.begin() + 2, objects.end()), plain);
        }
        // A refusal stays a bare status word.
        const Bytes c2 = send(*card, "00 84 00 00 08").data;
        const Answer refused = send(*card, wrap_c(hex("00 B0 10 00"), {}, key, c2));
        EXPECT_EQ(refused.sw, 0x6A86);
        EXPECT_TRUE(refused.data.empty());
    }
}

// CHANGE KEY (84 24 00 00): `_4`-protected under the transport key, on a
// blank card; it replaces the key the next `_4` command is checked under.
TEST(ChangeKey, ReplacesTheTransportKeyOnABlankCardOnly)
{
    auto card = OmbrixCard::builtin(Model::R21, "blank");
    const Bytes old_key = transport_key();
    const Bytes new_key = hex("00112233445566778899AABBCCDDEEFF");
    const Bytes header = hex("80 24 00 00");

    EXPECT_EQ(send(*card, wrap_4(header, new_key, Bytes(16, 0x22))).sw, 0x6988);
    EXPECT_EQ(send(*card, wrap_4(hex("80 24 00 01"), new_key, old_key)).sw, 0x6A88);
    EXPECT_EQ(send(*card, wrap_4(header, Bytes(8, 1), old_key)).sw, 0x6700);
    EXPECT_EQ(sw(*card, "80 24 00 00 10" + to_hex(new_key)), 0x6985); // plain: the signature, not in 34
    ASSERT_EQ(send(*card, wrap_4(header, new_key, old_key)).sw, 0x9000);
    EXPECT_EQ(card->to_json()["transport_key"], "00112233445566778899AABBCCDDEEFF");
    EXPECT_EQ(send(*card, wrap_4(header, old_key, old_key)).sw, 0x6988);
    EXPECT_EQ(send(*card, wrap_4(header, old_key, new_key)).sw, 0x9000);

    auto operational = demo(Model::R21);
    EXPECT_EQ(send(*operational, wrap_4(header, new_key, old_key)).sw, 0x6985);
}

} // namespace
} // namespace ombrix::sim::testing
