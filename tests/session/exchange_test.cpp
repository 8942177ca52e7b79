// The exchange: the command bytes sent, the answer handed back, the retry.
#include "tests/session/session_test_util.h"

#include "shell/trace.h"

namespace ombrix::test {
namespace {

class ExchangeTest : public PcscTest {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        card_ = scripted_reader("Reader A");
        ASSERT_EQ(session_.InitRM(), 1);
        ASSERT_EQ(session_.Connect("Reader A"), 0);
    }

    long send5(APDU apdu, unsigned char* resp, unsigned char* len)
    {
        return session_.Send(apdu, resp, len, &sw1_, &sw2_);
    }

    std::shared_ptr<ScriptedCard> card_;
    ProbeSession session_;
    unsigned char sw1_ = 0xEE, sw2_ = 0xEE;
};

struct Shape {
    const char* name;
    std::size_t lc;
    unsigned char le;
    const char* sent;
};

class ApduShapeTest : public ExchangeTest, public ::testing::WithParamInterface<Shape> {};

TEST_P(ApduShapeTest, LengthFieldsDecideTheCommandBytes)
{
    const Shape& shape = GetParam();
    const Bytes all = hex("3F 00 11");
    Bytes data(all.begin(), all.begin() + static_cast<long>(shape.lc));
    card_->answer("90 00");
    unsigned char resp[256];
    unsigned char len = 0;
    ASSERT_EQ(send5(make_apdu(0x00, 0xA4, 0x01, 0x02, data, shape.le), resp, &len), 0);
    EXPECT_EQ(to_hex(pcsc().last_command()), shape.sent);
}

INSTANTIATE_TEST_SUITE_P(
    FourShapes, ApduShapeTest,
    ::testing::Values(Shape{"header", 0, 0, "00A40102"}, Shape{"le", 0, 0x10, "00A4010210"},
                      Shape{"data", 3, 0, "00A40102033F0011"},
                      Shape{"data_le", 3, 0x10, "00A40102033F001110"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExchangeTest, ChannelReplacesOnlyClassZero)
{
    card_->otherwise("90 00");
    session_.Set_ChannelUsed(2);
    Bytes none;
    for (unsigned char cla : {0x00, 0x80, 0x0C}) {
        unsigned char len = 0;
        ASSERT_EQ(send5(make_apdu(cla, 0xB0, 0, 0, none, 0), nullptr, &len), 0);
    }
    unsigned char channel = 0;
    EXPECT_EQ(session_.Get_ChannelUsed(channel), 0);
    EXPECT_EQ(channel, 2);
    EXPECT_EQ(sent(), (std::vector<std::string>{"02B00000", "80B00000", "0CB00000"}));
}

TEST_F(ExchangeTest, ResponseIsSplitIntoDataAndStatusWord)
{
    card_->answer("90 00").answer("00 01 02 03 04 05 06 07 08 09 6A 82").answer("11 22 61 10");
    Bytes none;
    unsigned char resp[256] = {};
    unsigned char len = 0xAA;

    ASSERT_EQ(send5(make_apdu(0, 0xCA, 1, 0x83, none, 1), resp, &len), 0);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(sw1_ * 256 + sw2_, 0x9000);

    ASSERT_EQ(send5(make_apdu(0, 0xB0, 0, 0, none, 0), resp, &len), 0);
    EXPECT_EQ(len, 10);
    EXPECT_EQ(to_hex({resp, 10}), "00010203040506070809");
    EXPECT_EQ(sw1_ * 256 + sw2_, 0x6A82);

    // No buffer: the data are dropped, the length keeps its value.
    len = 0x55;
    ASSERT_EQ(send5(make_apdu(0, 0xB0, 0, 0, none, 0), nullptr, &len), 0);
    EXPECT_EQ(len, 0x55);
    EXPECT_EQ(sw1_ * 256 + sw2_, 0x6110);
}

TEST_F(ExchangeTest, NeverCopiesMoreThanTheCommandCanReceive)
{
    Bytes none;
    unsigned char resp[300];
    unsigned char len = 0;
    // More bytes than Le asked for: only Le of them are handed back.
    card_->answer("01 02 03 04 05 90 00");
    ASSERT_EQ(send5(make_apdu(0, 0xB0, 0, 0, none, 3), resp, &len), 0);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(to_hex({resp, 3}), "010203");

    // 255 data bytes fit; 256 cannot be counted in a one-byte length.
    Bytes full(255, 0x5A);
    full.push_back(0x90);
    full.push_back(0x00);
    card_->answer(to_hex(full));
    ASSERT_EQ(send5(make_apdu(0, 0xB0, 0, 0, none, 0), resp, &len), 0);
    EXPECT_EQ(len, 255);

    Bytes over(256, 0x5A);
    over.push_back(0x90);
    over.push_back(0x00);
    card_->answer(to_hex(over));
    len = 7;
    sw1_ = sw2_ = 0xEE;
    EXPECT_EQ(send5(make_apdu(0, 0xB0, 0, 0, none, 0), resp, &len), OMBRIX_E_OVERSIZED_RESPONSE);
    EXPECT_EQ(len, 7);
    EXPECT_EQ(sw1_, 0xEE);
}

TEST_F(ExchangeTest, AnswersWithoutAStatusWordAreFailures)
{
    Bytes none;
    unsigned char resp[16] = {};
    unsigned char len = 9;
    card_->answer("90").answer("").answer("12 34 00 00");
    EXPECT_EQ(send5(make_apdu(0, 0xB0, 0, 0, none, 0), resp, &len), OMBRIX_E_SHORT_RESPONSE);
    EXPECT_EQ(send5(make_apdu(0, 0xB0, 0, 0, none, 0), resp, &len), OMBRIX_E_SHORT_RESPONSE);
    // 00 00 would otherwise read as a status word.
    EXPECT_EQ(send5(make_apdu(0, 0xB0, 0, 0, none, 0), resp, &len), OMBRIX_E_BAD_STATUS_WORD);
    EXPECT_EQ(len, 9);
    EXPECT_EQ(sw1_, 0xEE);
    EXPECT_EQ(resp[0], 0);
}

TEST_F(ExchangeTest, ThreeArgumentFormFoldsTheStatusWord)
{
    card_->answer("90 00").answer("6A 82").answer("61 10");
    Bytes none;
    unsigned char len = 0;
    unsigned char resp[8];
    EXPECT_EQ(session_.Send(make_apdu(0, 0xA4, 0, 0, none, 0), resp, &len), 0);
    EXPECT_EQ(session_.Send(make_apdu(0, 0xA4, 0, 0, none, 0), resp, &len), 0x6A82);
    EXPECT_EQ(session_.Send(make_apdu(0, 0xA4, 0, 0, none, 0), resp, &len), 0x6110);
    EXPECT_EQ(sent().size(), 3u); // no GET RESPONSE after 61xx
}

TEST_F(ExchangeTest, ResetCardReconnectsThenTransmitsAgain)
{
    card_->answer("AB 90 00");
    pcsc().fail(PcscCall::Transmit, SCARD_W_RESET_CARD);
    Bytes none;
    unsigned char resp[8];
    unsigned char len = 0;
    ASSERT_EQ(send5(make_apdu(0, 0xB0, 0, 0, none, 1), resp, &len), 0);
    EXPECT_EQ(pcsc().calls(PcscCall::Reconnect), 1);
    EXPECT_EQ(pcsc().calls(PcscCall::Transmit), 2);
    EXPECT_EQ(len, 1);
    EXPECT_EQ(resp[0], 0xAB);
}

TEST_F(ExchangeTest, OtherErrorsRetryOnceWithoutReconnect)
{
    card_->answer("90 00");
    pcsc().fail(PcscCall::Transmit, SCARD_F_COMM_ERROR);
    Bytes none;
    unsigned char len = 0;
    ASSERT_EQ(send5(make_apdu(0, 0xB0, 0, 0, none, 0), nullptr, &len), 0);
    EXPECT_EQ(pcsc().calls(PcscCall::Reconnect), 0);
    EXPECT_EQ(pcsc().calls(PcscCall::Transmit), 2);
}

TEST_F(ExchangeTest, ReceiveLengthIsRestoredBeforeTheSecondAttempt)
{
    // The platform left a needed size of 1 byte behind after the first failure.
    card_->answer("01 02 03 90 00");
    pcsc().fail(PcscCall::Transmit, SCARD_E_INSUFFICIENT_BUFFER);
    Bytes none;
    unsigned char resp[8];
    unsigned char len = 0;
    ASSERT_EQ(send5(make_apdu(0, 0xB0, 0, 0, none, 3), resp, &len), 0);
    EXPECT_EQ(len, 3);
}

TEST_F(ExchangeTest, BothAttemptsFailingLeavesOutputsUntouched)
{
    pcsc().fail(PcscCall::Transmit, SCARD_W_REMOVED_CARD, 2);
    TraceCapture trace;
    Bytes none;
    unsigned char resp[4] = {1, 2, 3, 4};
    unsigned char len = 0x77;
    EXPECT_EQ(send5(make_apdu(0, 0xB0, 0, 0, none, 2), resp, &len), SCARD_W_REMOVED_CARD);
    EXPECT_EQ(len, 0x77);
    EXPECT_EQ(resp[0], 1);
    EXPECT_EQ(sw1_, 0xEE);
    EXPECT_EQ(sw2_, 0xEE);
    EXPECT_NE(trace.text().find(";errval = 80100069\n"), std::string::npos);
}

TEST_F(ExchangeTest, T0ConnectionsTransmitWithT0ControlInformation)
{
    auto t0 = std::make_shared<ScriptedCard>();
    t0->answer("90 00");
    pcsc().add_reader("T0 Reader", t0).set_protocol(SCARD_PROTOCOL_T0);
    ProbeSession session;
    ASSERT_EQ(session.InitRM(), 1);
    ASSERT_EQ(session.Connect("T0 Reader"), 0);
    Bytes none;
    EXPECT_EQ(session.Send(make_apdu(0, 0xB0, 0, 0, none, 0), nullptr, nullptr), 0);
    EXPECT_EQ(pcsc().exchanges().back().pci, static_cast<unsigned long>(SCARD_PROTOCOL_T0));
}

TEST_F(PcscTest, SendWithoutConnectionSendsNothingAndSaysSo)
{
    ProbeSession session;
    Bytes none;
    unsigned char sw1 = 0xEE, sw2 = 0xEE, len = 3;
    EXPECT_EQ(session.Send(make_apdu(0, 0xB0, 0, 0, none, 0), nullptr, &len, &sw1, &sw2),
              OMBRIX_E_NOT_CONNECTED);
    EXPECT_EQ(session.Send(make_apdu(0, 0xB0, 0, 0, none, 0), nullptr, &len),
              OMBRIX_E_NOT_CONNECTED);
    EXPECT_EQ(sw1, 0xEE);
    EXPECT_EQ(pcsc().calls(PcscCall::Transmit), 0);
}

} // namespace
} // namespace ombrix::test
