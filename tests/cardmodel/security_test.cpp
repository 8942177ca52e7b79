// PINs, unblocking, the security status and access conditions, on every
// model's demo card: 01 "1234" (3 tries, unblocked by 02 "12345678"), and
// on the second generation the biometric template 03.
#include "tests/cardmodel/host_crypto.h"

namespace ombrix::sim::testing {
namespace {

const std::string kPin = "00 20 00 81 04 " + text("1234");
const std::string kWrongPin = "00 20 00 81 04 " + text("9999");
const std::string kPuk = "00 20 00 82 08 " + text("12345678");
constexpr const char* kSelectSecret = "00 A4 08 00 04 50 00 50 04";

class Pins : public ::testing::TestWithParam<Model> {
protected:
    void SetUp() override { card_ = demo(GetParam()); }
    std::uint8_t tries() { return card_->to_json()["pins"][0]["tries"].get<std::uint8_t>(); }
    std::unique_ptr<OmbrixCard> card_;
};

TEST_P(Pins, AccessRefusedBeforeVerifyAndAllowedAfter)
{
    ASSERT_EQ(sw(*card_, kSelectSecret), 0x9000);
    EXPECT_EQ(sw(*card_, "00 B0 00 00 10"), 0x6982);
    EXPECT_EQ(sw(*card_, "00 20 00 81"), 0x63C3); // no data: the tries left
    ASSERT_EQ(sw(*card_, kPin), 0x9000);
    EXPECT_EQ(sw(*card_, "00 20 00 81"), 0x9000);
    EXPECT_EQ(send(*card_, "00 B0 00 00 10").data, Bytes(std::string_view("PIN-protected!!!").begin(),
                                                          std::string_view("PIN-protected!!!").end()));
    EXPECT_EQ(to_hex(send(*card_, "00 CA 01 84").data), "81");
    // RESET SECURITY STATUS, and a reset of the card, forget it.
    ASSERT_EQ(sw(*card_, "00 EA 00 00"), 0x9000);
    EXPECT_EQ(sw(*card_, "00 B0 00 00 10"), 0x6982);
    EXPECT_TRUE(send(*card_, "00 CA 01 84").data.empty());
    ASSERT_EQ(sw(*card_, kPin), 0x9000);
    card_->reset();
    ASSERT_EQ(sw(*card_, kSelectSecret), 0x9000);
    EXPECT_EQ(sw(*card_, "00 B0 00 00 10"), 0x6982);
}

TEST_P(Pins, WrongPinsCountDownToBlockedAndAGoodOneRefills)
{
    EXPECT_EQ(sw(*card_, kWrongPin), 0x63C2);
    EXPECT_EQ(sw(*card_, "00 20 00 81 03 31 32 33"), 0x63C1); // a wrong length is a wrong PIN
    ASSERT_EQ(sw(*card_, kPin), 0x9000);
    EXPECT_EQ(tries(), 3);
    // A failure takes back what was verified.
    EXPECT_EQ(sw(*card_, kWrongPin), 0x63C2);
    EXPECT_TRUE(send(*card_, "00 CA 01 84").data.empty());
    EXPECT_EQ(sw(*card_, kWrongPin), 0x63C1);
    EXPECT_EQ(sw(*card_, kWrongPin), 0x63C0);
    EXPECT_EQ(sw(*card_, kPin), 0x6983);
    EXPECT_EQ(sw(*card_, "00 20 00 81"), 0x6983);
    // The counter is persistent.
    auto copy = OmbrixCard::from_json(card_->to_json());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(sw(*copy, kPin), 0x6983);
    EXPECT_EQ(sw(*card_, "00 20 00 85 04 31 32 33 34"), 0x6A88);
    EXPECT_EQ(sw(*card_, "00 20 01 81 04 31 32 33 34"), 0x6A86);
}

TEST_P(Pins, UnblockWithTheResettingCode)
{
    for (int i = 0; i < 3; ++i)
        sw(*card_, kWrongPin);
    ASSERT_EQ(sw(*card_, kPin), 0x6983);
    // Mode 01: the resetting code; a wrong one counts against 02.
    EXPECT_EQ(sw(*card_, "00 2C 01 81 08 " + text("00000000")), 0x63C9);
    EXPECT_EQ(sw(*card_, "00 2C 01 81 04 " + text("1234")), 0x6700);
    ASSERT_EQ(sw(*card_, "00 2C 01 81 08 " + text("12345678")), 0x9000);
    EXPECT_EQ(tries(), 3);
    EXPECT_EQ(sw(*card_, kPin), 0x9000);
    // Mode 00: the code and a new PIN, which must be at least 4 long.
    EXPECT_EQ(sw(*card_, "00 2C 00 81 0B " + text("12345678") + text("567")), 0x6A80);
    ASSERT_EQ(sw(*card_, "00 2C 00 81 0C " + text("12345678") + text("5678")), 0x9000);
    EXPECT_EQ(sw(*card_, "00 20 00 81 04 " + text("5678")), 0x9000);
    // Mode 02 needs the resetting code verified first.
    EXPECT_EQ(sw(*card_, "00 2C 02 81 04 " + text("4321")), 0x6982);
    ASSERT_EQ(sw(*card_, kPuk), 0x9000);
    ASSERT_EQ(sw(*card_, "00 2C 02 81 04 " + text("4321")), 0x9000);
    EXPECT_EQ(sw(*card_, "00 20 00 81 04 " + text("4321")), 0x9000);
}

TEST_P(Pins, UnblockWithoutDataOnlyInPhase20AfterTheResettingCode)
{
    const std::string phase_control = GetParam() == Model::R1 ? "B0 10 00 00" : "80 10 00 00";
    for (int i = 0; i < 3; ++i)
        sw(*card_, kWrongPin);
    EXPECT_EQ(sw(*card_, "00 2C 03 81"), 0x6985); // phase 10
    ASSERT_EQ(sw(*card_, phase_control), 0x9000);
    EXPECT_EQ(sw(*card_, "00 2C 03 81"), 0x6982); // the code not verified
    ASSERT_EQ(sw(*card_, kPuk), 0x9000);
    EXPECT_EQ(sw(*card_, "00 2C 03 81 01 00"), 0x6700);
    ASSERT_EQ(sw(*card_, "00 2C 03 81"), 0x9000);
    ASSERT_EQ(sw(*card_, phase_control), 0x9000);
    EXPECT_EQ(sw(*card_, kPin), 0x9000);
    EXPECT_EQ(sw(*card_, "00 2C 04 81"), 0x6A86);
    EXPECT_EQ(sw(*card_, "00 2C 01 82 01 00"), 0x6A81); // 02 has no resetting code
}

TEST_P(Pins, ChangeReferenceData)
{
    // New value only: the PIN must be verified first.
    EXPECT_EQ(sw(*card_, "00 24 01 81 04 " + text("2468")), 0x6982);
    ASSERT_EQ(sw(*card_, kPin), 0x9000);
    EXPECT_EQ(sw(*card_, "00 24 01 81 02 " + text("24")), 0x6A80); // shorter than 4
    ASSERT_EQ(sw(*card_, "00 24 01 81 04 " + text("2468")), 0x9000);
    EXPECT_EQ(sw(*card_, kPin), 0x63C2);
    // The current value followed by the new one.
    ASSERT_EQ(sw(*card_, "00 24 00 81 09 " + text("2468") + text("13579")), 0x9000);
    EXPECT_EQ(sw(*card_, "00 20 00 81 05 " + text("13579")), 0x9000);
    EXPECT_EQ(sw(*card_, "00 24 00 81 09 " + text("99999") + text("1111")), 0x63C2);
    EXPECT_EQ(sw(*card_, "00 24 00 81 08 " + text("13579") + text("111")), 0x6A80); // no try spent
    EXPECT_EQ(tries(), 2);
    EXPECT_EQ(sw(*card_, "00 24 41 81 04 " + text("1111")), 0x6A86); // no such object class
}

INSTANTIATE_TEST_SUITE_P(AllModels, Pins, ::testing::ValuesIn(kAllModels), model_param_name);

// Second generation: VERIFY with CLA 10 pieces assembled before the check,
// the 720-byte template matched as a whole.
class Chaining : public ::testing::TestWithParam<Model> {};

std::uint16_t send_in_pieces(OmbrixCard& card, const Bytes& record, std::string_view p2)
{
    std::uint16_t last = 0;
    for (std::size_t off = 0; off < record.size(); off += 100) {
        const std::size_t n = std::min<std::size_t>(100, record.size() - off);
        const bool final_piece = off + n == record.size();
        last = sw(card, std::string(final_piece ? "00" : "10") + " 20 00 " + std::string(p2) + " " +
                            to_hex({static_cast<std::uint8_t>(n)}) + " " +
                            to_hex(Bytes(record.begin() + off, record.begin() + off + n)));
        if (!final_piece && last != 0x9000)
            return last;
    }
    return last;
}

TEST_P(Chaining, MatchOnCardOfTheTemplateInPieces)
{
    auto card = demo(GetParam());
    Bytes record = biometric_record();
    EXPECT_EQ(send_in_pieces(*card, record, "83"), 0x9000);
    EXPECT_EQ(to_hex(send(*card, "00 CA 01 84").data), "83");
    record[719] ^= 0xFF;
    EXPECT_EQ(send_in_pieces(*card, record, "83"), 0x63C2);
    EXPECT_TRUE(send(*card, "00 CA 01 84").data.empty());
    // The PIN in two pieces is assembled too.
    EXPECT_EQ(sw(*card, "10 20 00 81 02 31 32"), 0x9000);
    EXPECT_EQ(sw(*card, "00 20 00 81 02 33 34"), 0x9000);
}

TEST_P(Chaining, AnotherCommandEndsTheChain)
{
    auto card = demo(GetParam());
    EXPECT_EQ(sw(*card, "10 20 00 81 02 31 32"), 0x9000);
    EXPECT_EQ(sw(*card, "00 CA 01 83"), 0x9000);
    EXPECT_EQ(sw(*card, "00 20 00 81 02 33 34"), 0x63C2); // "34" alone
    // A piece for another reference starts over.
    EXPECT_EQ(sw(*card, "10 20 00 81 02 31 32"), 0x9000);
    EXPECT_EQ(sw(*card, "00 20 00 82 08 " + text("12345678")), 0x9000);
    EXPECT_EQ(sw(*card, "00 20 00 81 02 33 34"), 0x63C1);
    // Chaining beyond what the card holds.
    for (int i = 0; i < 10; ++i)
        sw(*card, "10 20 00 83 64 " + to_hex(Bytes(100, 0)));
    EXPECT_EQ(sw(*card, "10 20 00 83 64 " + to_hex(Bytes(100, 0))), 0x6700);
}

INSTANTIATE_TEST_SUITE_P(SecondGeneration, Chaining,
                         ::testing::Values(Model::R2, Model::R21, Model::R21v, Model::R22, Model::R23,
                                           Model::R23v),
                         model_param_name);

} // namespace
} // namespace ombrix::sim::testing
