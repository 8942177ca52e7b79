// The exchange: the command bytes sent and the answer handed back. Its PC/SC
// failures and the retry are cells of the fault matrix (tests/faults).
#include "tests/session/session_test_util.h"

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

// One answer of the card and what Send makes of it. On a failure, the length,
// the buffer and the status word stay as they were.
struct Answer {
    const char* name;
    std::string answer;
    unsigned char le;
    bool buffer;        // a response buffer is given
    long rc;
    int len;            // -1: left as it was
    std::string data;   // the bytes handed back
    int sw;             // -1: left as it was
};

const std::string k255 = std::string(255 * 2, 'A') + "9000";
const std::string k256 = std::string(256 * 2, 'A') + "9000";

class AnswerTest : public ExchangeTest, public ::testing::WithParamInterface<Answer> {};

TEST_P(AnswerTest, SplitIntoDataAndStatusWordOrRefused)
{
    const Answer& a = GetParam();
    card_->answer(a.answer);
    Bytes none;
    unsigned char resp[300];
    std::memset(resp, 0xEE, sizeof resp);
    unsigned char len = 0x77;
    EXPECT_EQ(send5(make_apdu(0, 0xB0, 0, 0, none, a.le), a.buffer ? resp : nullptr, &len), a.rc);
    EXPECT_EQ(len, a.len < 0 ? 0x77 : a.len);
    EXPECT_EQ(to_hex({resp, a.data.size() / 2 + 1}), a.data + "EE") << "nothing past the data";
    EXPECT_EQ(sw1_ * 256 + sw2_, a.sw < 0 ? 0xEEEE : a.sw);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AnswerTest,
    ::testing::Values(
        Answer{"StatusWordOnly", "9000", 1, true, 0, 0, "", 0x9000},
        Answer{"DataAndStatusWord", "00010203040506070809 6A82", 0, true, 0, 10,
               "00010203040506070809", 0x6A82},
        // No buffer: the data are dropped, the length keeps its value.
        Answer{"NoBuffer", "1122 6110", 0, false, 0, -1, "", 0x6110},
        // More bytes than Le asked for: only Le of them are handed back.
        Answer{"MoreThanLe", "0102030405 9000", 3, true, 0, 3, "010203", 0x9000},
        Answer{"255Bytes", k255, 0, true, 0, 255, std::string(255 * 2, 'A'), 0x9000},
        // 256 data bytes cannot be counted in a one-byte length.
        Answer{"256Bytes", k256, 0, true, OMBRIX_E_OVERSIZED_RESPONSE, -1, "", -1},
        Answer{"OneByte", "90", 0, true, OMBRIX_E_SHORT_RESPONSE, -1, "", -1},
        Answer{"Nothing", "", 0, true, OMBRIX_E_SHORT_RESPONSE, -1, "", -1},
        // 00 00 would otherwise read as a status word.
        Answer{"ZeroStatusWord", "1234 0000", 0, true, OMBRIX_E_BAD_STATUS_WORD, -1, "", -1}),
    [](const auto& info) { return std::string(info.param.name); });

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

} // namespace
} // namespace ombrix::test
