// The library's wraps checked by the card side (a separate implementation),
// and a flipped bit refused by the card.
#include "tests/sm/sm_test_util.h"

namespace ombrix::test {
namespace {

namespace csm = ombrix::sim::card_sm;

class CardSideTest : public KeyedTest {
protected:
    Bytes payload(unsigned n)
    {
        Bytes b(n);
        for (unsigned i = 0; i < n; ++i)
            b[i] = static_cast<unsigned char>(0xA0 + i * 3);
        return b;
    }
};

TEST_F(CardSideTest, FamilyCCommandsUnwrapToThePlainCommand)
{
    const std::array<std::uint8_t, 8> challenge = {1, 2, 3, 4, 5, 6, 7, 8};
    // Eight bytes of data get a whole padding block, without which the card refuses.
    for (unsigned n : {0u, 1u, 7u, 8u, 100u, 238u}) {
        Bytes data = payload(n);
        APDU in{0x00, 0xD6, 0x01, 0x02, static_cast<unsigned char>(n), n ? data.data() : nullptr, 0};
        card_->expect("0084000008", "0102030405060708 9000");
        card_->expect("0084000008", "0102030405060708 9000");
        for (auto wrap : {&CCardSM::SM_ENC_SIG_C, &CCardSM::SM_SIG_C, &CCardSM::SM_ENC_C}) {
            const bool mac = wrap != &CCardSM::SM_ENC_C;
            APDU out{};
            ASSERT_EQ((sm_.*wrap)(in, out), 0u) << n;
            if (!mac) {
                EXPECT_FALSE(csm::unwrap_command_c(bytes_of(out), kTestKey, challenge))
                    << "a card that wants a MAC refuses SM_ENC_C";
            }
            auto plain = csm::unwrap_command_c(bytes_of(out), kTestKey, challenge, mac);
            ASSERT_TRUE(plain) << n << (mac ? "" : " SM_ENC_C");
            EXPECT_EQ(to_hex(*plain), to_hex(bytes_of(in)));
        }
    }
}

TEST_F(CardSideTest, FamilyCRefusesAFlippedBitAnotherChallengeOrAnotherHeader)
{
    Bytes data = payload(20);
    APDU in{0x00, 0x2A, 0x9E, 0x9A, 20, data.data(), 0};
    card_->expect("0084000008", "0102030405060708 9000");
    const std::array<std::uint8_t, 8> challenge = {1, 2, 3, 4, 5, 6, 7, 8};
    APDU out{};
    ASSERT_EQ(sm_.SM_ENC_SIG_C(in, out), 0u);
    const Bytes good = bytes_of(out);
    ASSERT_TRUE(csm::unwrap_command_c(good, kTestKey, challenge));

    for (std::size_t i = 5; i < good.size(); ++i) {
        Bytes bad = good;
        bad[i] ^= 0x01;
        EXPECT_FALSE(csm::unwrap_command_c(bad, kTestKey, challenge)) << "byte " << i;
    }
    Bytes otherP2 = good;
    otherP2[3] ^= 0x01; // the header is under the MAC
    EXPECT_FALSE(csm::unwrap_command_c(otherP2, kTestKey, challenge));
    const std::array<std::uint8_t, 8> stale = {1, 2, 3, 4, 5, 6, 7, 9};
    EXPECT_FALSE(csm::unwrap_command_c(good, kTestKey, stale)) << "a replay under another challenge";
    std::array<std::uint8_t, 16> otherKey = kTestKey;
    otherKey[15] ^= 0x80;
    EXPECT_FALSE(csm::unwrap_command_c(good, otherKey, challenge));
    EXPECT_FALSE(csm::unwrap_command_c(Bytes(good.begin(), good.end() - 1), kTestKey, challenge))
        << "a truncated command";
}

TEST_F(CardSideTest, Family4UnwrapsUnderTheTransportKey)
{
    const struct {
        unsigned long (CCardSM::*wrap)(APDU, APDU&);
        csm::Protection4 protection;
    } wrappers[] = {{&CCardSM::SM_ENC_SIG_4, csm::Protection4::EncMac},
                    {&CCardSM::SM_SIG_4, csm::Protection4::Mac},
                    {&CCardSM::SM_ENC_4, csm::Protection4::Enc}};
    for (unsigned n : {0u, 5u, 8u, 40u, 239u}) {
        Bytes data = payload(n);
        APDU in{0x80, 0x40, 0x00, 0x01, static_cast<unsigned char>(n), n ? data.data() : nullptr, 0};
        for (const auto& w : wrappers) {
            APDU out{};
            ASSERT_EQ((sm_.*w.wrap)(in, out), 0u);
            Bytes wire = bytes_of(out);
            delete[] out.data;
            auto plain = csm::unwrap_command_4(wire, kTestKey, w.protection);
            ASSERT_TRUE(plain) << n;
            EXPECT_EQ(to_hex(*plain), to_hex(bytes_of(in)));
            wire[wire.size() - 1] ^= 0x01;
            if (w.protection != csm::Protection4::Enc) {
                EXPECT_FALSE(csm::unwrap_command_4(wire, kTestKey, w.protection)) << n;
            }
        }
    }
}

TEST_F(CardSideTest, Family4ClassIsNotAuthenticatedButTheRestIs)
{
    Bytes data = payload(16);
    APDU in{0x80, 0x24, 0x00, 0x02, 16, data.data(), 0};
    APDU out{};
    ASSERT_EQ(sm_.SM_SIG_4(in, out), 0u);
    Bytes wire = bytes_of(out);
    delete[] out.data;
    Bytes otherClass = wire;
    otherClass[0] = 0x94;
    EXPECT_TRUE(csm::unwrap_command_4(otherClass, kTestKey, csm::Protection4::Mac));
    Bytes otherP2 = wire;
    otherP2[3] = 0x03;
    EXPECT_FALSE(csm::unwrap_command_4(otherP2, kTestKey, csm::Protection4::Mac));
}

} // namespace
} // namespace ombrix::test
