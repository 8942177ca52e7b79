// The trace: silent by default, the prefix, and the APDU script of Send.
#include "tests/session/session_test_util.h"

#include "shell/trace.h"

#include <regex>

namespace ombrix::test {
namespace {

// Drops the 43-character prefix of every trace piece, checking its shape.
std::string strip_prefixes(const std::string& text)
{
    static const std::regex prefix(
        R"(\[0x[0-9a-f]{8}\] - \d{2}\\\d{2}\\\d{4} - \[\d{2}:\d{2}:\d{2}\.\d{3}\] )");
    return std::regex_replace(text, prefix, "");
}

TEST(Trace, SilentUntilSwitchedOn)
{
    EXPECT_EQ(g_bTraceOn, 0);
    EXPECT_EQ(trace(1, "nothing %d\n", 1), 0);
    EXPECT_EQ(trace(0, "nothing\n"), 0);
}

TEST(Trace, MissingStreamAndLevelLimit)
{
    TraceCapture capture(1);
    FILE* saved = g_pTraceFile;
    g_pTraceFile = nullptr;
    EXPECT_EQ(trace(1, "x\n"), -1);
    EXPECT_EQ(trace(4, "x\n"), 0); // above the limit: suppressed before the stream matters
    g_pTraceFile = saved;
    EXPECT_EQ(trace(1, "value %d\n", 7), 0);
    EXPECT_EQ(trace(2, "hidden\n"), 0);
    const std::string text = capture.text();
    ASSERT_EQ(text.size(), 43u + 8u);
    EXPECT_EQ(strip_prefixes(text), "value 7\n");
}

TEST(Trace, LongFormatsAreWrittenWhole)
{
    TraceCapture capture(1);
    const std::string body(600, 'x');
    const std::string format = body + "%s|%d\n";
    EXPECT_EQ(trace(1, format.c_str(), "tail", 42), 0);
    EXPECT_EQ(strip_prefixes(capture.text()), body + "tail|42\n");
    EXPECT_EQ(trace(1, nullptr), 0);
}

class ScriptTraceTest : public PcscTest {};

TEST_F(ScriptTraceTest, FirstApduOfASession)
{
    scripted_reader("R")->answer("90 00");
    ProbeSession session;
    ASSERT_EQ(session.InitRM(), 1);
    ASSERT_EQ(session.Connect("R"), 0);
    TraceCapture capture;
    Bytes data = hex("3F 00");
    EXPECT_EQ(session.Send(make_apdu(0x00, 0xA4, 0, 0, data, 0), nullptr, nullptr), 0);
    EXPECT_EQ(strip_prefixes(capture.text()),
              "\n\n;BEGIN\n\n[reset]\n\n"
              "\n;#### APDU NUMBER 1\n"
              "[transmit]\n"
              "cla  =  000h\n"
              "ins  =  0a4h\n"
              "p1   =  000h\n"
              "p2   =  000h\n"
              "lc   =  002h\n"
              "le   =  000h\n"
              "data =  03fh 000h\n"
              ";retval = 9000\n");
}

TEST_F(ScriptTraceTest, DataRunEightBytesToALine)
{
    scripted_reader("R")->otherwise("6A 82");
    ProbeSession session;
    ASSERT_EQ(session.InitRM(), 1);
    ASSERT_EQ(session.Connect("R"), 0);
    Bytes none;
    session.Set_ChannelUsed(3);
    ASSERT_EQ(session.Send(make_apdu(0, 0xB0, 0, 0, none, 0), nullptr, nullptr), 0x6A82);
    TraceCapture capture;
    Bytes data(17);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i);
    EXPECT_EQ(session.Send(make_apdu(0, 0xD6, 0, 0, data, 0), nullptr, nullptr), 0x6A82);
    EXPECT_EQ(strip_prefixes(capture.text()),
              "\n;#### APDU NUMBER 2\n"
              "[transmit]\n"
              "cla  =  003h\n"
              "ins  =  0d6h\n"
              "p1   =  000h\n"
              "p2   =  000h\n"
              "lc   =  011h\n"
              "le   =  000h\n"
              "data =  000h 001h 002h 003h 004h 005h 006h 007h\n"
              "        008h 009h 00ah 00bh 00ch 00dh 00eh 00fh\n"
              "        010h\n"
              ";retval = 6a82\n");
}

TEST_F(ScriptTraceTest, PinsAndKeysAreMaskedUnlessTheUserOptsIn)
{
    scripted_reader("R")->otherwise("90 00");
    ProbeSession session;
    ASSERT_EQ(session.InitRM(), 1);
    ASSERT_EQ(session.Connect("R"), 0);
    Bytes pin = hex("31 32 33 34");
    Bytes object = hex("83 02 20 05 8F 02 AB CD");
    {
        TraceCapture capture;
        ASSERT_EQ(session.Send(make_apdu(0, 0x20, 0, 0x81, pin, 0), nullptr, nullptr), 0);
        ASSERT_EQ(session.Send(make_apdu(0x84, 0x24, 0, 0x01, pin, 0), nullptr, nullptr), 0);
        ASSERT_EQ(session.Send(make_apdu(0, 0xDA, 0x01, 0x6E, object, 0), nullptr, nullptr), 0);
        const std::string secret = strip_prefixes(capture.text());
        EXPECT_EQ(secret.find("031h"), std::string::npos) << secret;
        EXPECT_EQ(secret.find("0abh"), std::string::npos) << secret;
        EXPECT_NE(secret.find("data =  ***h ***h ***h ***h\n"), std::string::npos);
        // An ordinary UPDATE BINARY of the same bytes is shown.
        ASSERT_EQ(session.Send(make_apdu(0, 0xD6, 0, 0, pin, 0), nullptr, nullptr), 0);
        EXPECT_NE(strip_prefixes(capture.text()).find("data =  031h 032h 033h 034h\n"),
                  std::string::npos);
    }
    g_bTraceSecrets = 1;
    {
        TraceCapture capture;
        ASSERT_EQ(session.Send(make_apdu(0, 0x20, 0, 0x81, pin, 0), nullptr, nullptr), 0);
        EXPECT_NE(strip_prefixes(capture.text()).find("data =  031h 032h 033h 034h\n"),
                  std::string::npos);
    }
    g_bTraceSecrets = 0;
}

TEST_F(ScriptTraceTest, ConnectToTheFirstReaderNamesIt)
{
    scripted_reader("Only Reader");
    ProbeSession session;
    ASSERT_EQ(session.InitRM(), 1);
    TraceCapture capture;
    ASSERT_EQ(session.Connect(nullptr), 0);
    EXPECT_NE(strip_prefixes(capture.text()).find("\tOnly Reader connected - ref...m_hCard=0x"),
              std::string::npos);
}

} // namespace
} // namespace ombrix::test
