// Match-on-card: cmdVERIFYSMOC with the QVbiolib component transmitting the
// record's pieces through the in-process PC/SC; and the component itself.
#include "qvbiolib/pb_handle_bir.h"
#include "tests/r2ops/r2ops_test_util.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace ombrix::test {
namespace {

// The in-process PC/SC's SCardTransmit, with the receive capacity it was offered noted.
std::vector<unsigned long> g_offered;
LONG noting_transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_pci, const BYTE* send,
                     DWORD send_length, SCARD_IO_REQUEST* recv_pci, BYTE* recv, DWORD* recv_length)
{
    g_offered.push_back(*recv_length);
    return sim::inproc_pcsc_api().Transmit(card, send_pci, send, send_length, recv_pci, recv,
                                           recv_length);
}

// One byte where a status word should be.
LONG one_byte_transmit(SCARDHANDLE, const SCARD_IO_REQUEST*, const BYTE*, DWORD, SCARD_IO_REQUEST*,
                       BYTE* recv, DWORD* recv_length)
{
    recv[0] = 0x90;
    *recv_length = 1;
    return SCARD_S_SUCCESS;
}

class SmocTest : public R2Test {
protected:
    void SetUp() override
    {
        R2Test::SetUp();
        g_offered.clear();
        record_ = hex(counting(256) + counting(256) + counting(208));
        ASSERT_EQ(bir_.from_bytes(record_.data(), record_.size()), 0);
        bir_.set_transmit(&noting_transmit);
    }
    std::string piece(std::size_t offset, std::size_t n) const
    {
        return to_hex(std::span<const std::uint8_t>(record_.data() + offset, n));
    }
    void expect_pieces(unsigned char cla_chained, unsigned char cla_last, unsigned char p2,
                       int accepted = 8)
    {
        char head[16];
        for (int k = 0; k < 7 && k < accepted; ++k) {
            std::snprintf(head, sizeof head, "%02X2000%02X64", cla_chained, p2);
            card_->expect(head + piece(100 * k, 100), "9000");
        }
        if (accepted == 8) {
            std::snprintf(head, sizeof head, "%02X2000%02X14", cla_last, p2);
            card_->expect(head + piece(700, 20), "9000");
        }
    }
    Bytes record_;
    PbHandleBir bir_;
};

TEST_F(SmocTest, SevenChainedPiecesOf100AndOneOf20)
{
    expect_pieces(0x10, 0x00, 0x81);
    EXPECT_EQ(r2_.cmdVERIFYSMOC(0x01, bir_), 0);
    EXPECT_TRUE(card_->script_done());
    const auto log = pcsc().exchanges();
    ASSERT_EQ(log.size(), 8u);
    for (const auto& e : log)
        EXPECT_EQ(e.pci, static_cast<unsigned long>(SCARD_PROTOCOL_T1));
    EXPECT_EQ(g_offered, std::vector<unsigned long>(8, 258)) << "the full capacity for every piece";
}

TEST_F(SmocTest, UsesTheNegotiatedProtocolAndTheChannel)
{
    auto t0 = std::make_shared<ScriptedCard>();
    pcsc().add_reader("T0", t0).set_protocol(SCARD_PROTOCOL_T0);
    COmbrixR2 onT0;
    ASSERT_EQ(onT0.InitRM(), 1);
    ASSERT_EQ(onT0.Connect("T0"), 0);
    t0->otherwise("9000");
    EXPECT_EQ(onT0.cmdVERIFYSMOC(0x02, bir_), 0);
    const auto log = pcsc().exchanges();
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[0].pci, static_cast<unsigned long>(SCARD_PROTOCOL_T0));

    r2_.Set_ChannelUsed(3);
    expect_pieces(0x13, 0x03, 0x82);
    EXPECT_EQ(r2_.cmdVERIFYSMOC(0x02, bir_), 0);
    EXPECT_TRUE(card_->script_done());
}

TEST_F(SmocTest, TheFirstFailureEndsTheChain)
{
    expect_pieces(0x10, 0x00, 0x81, 2);
    card_->expect("1020008164" + piece(200, 100), "6A80");
    EXPECT_EQ(r2_.cmdVERIFYSMOC(0x01, bir_), 0x6A80);
    EXPECT_EQ(sent().size(), 3u);

    card_->expect("1020008164" + piece(0, 100), "0000");
    EXPECT_EQ(r2_.cmdVERIFYSMOC(0x01, bir_), OMBRIX_E_BAD_STATUS_WORD);

    pcsc().fail(PcscCall::Transmit, SCARD_W_REMOVED_CARD, 1, 1);
    card_->expect("1020008164" + piece(0, 100), "9000");
    EXPECT_EQ(r2_.cmdVERIFYSMOC(0x01, bir_), static_cast<long>(SCARD_W_REMOVED_CARD))
        << "the platform's value of the PC/SC error";

    bir_.set_transmit(&one_byte_transmit);
    EXPECT_EQ(r2_.cmdVERIFYSMOC(0x01, bir_), OMBRIX_E_SHORT_RESPONSE);

    PbHandleBir empty;
    EXPECT_EQ(r2_.cmdVERIFYSMOC(0x01, empty), static_cast<long>(SCARD_E_INVALID_VALUE));
    EXPECT_TRUE(card_->script_done());

    COmbrixR2 unconnected;
    EXPECT_EQ(unconnected.cmdVERIFYSMOC(0x01, bir_), OMBRIX_E_NOT_CONNECTED);
}

// A card object that shows its PC/SC card handle.
struct HandleR2 : COmbrixR2 {
    unsigned long handle() const { return static_cast<unsigned long>(m_hCard); }
};

class BirTest : public PcscTest {
protected:
    std::filesystem::path file(std::size_t size)
    {
        auto path = std::filesystem::temp_directory_path() /
                    ("qvbiolib_test_" + std::to_string(::getpid()) + "_" + std::to_string(size));
        std::ofstream(path, std::ios::binary) << std::string(size, 'B');
        paths_.push_back(path);
        return path;
    }
    void TearDown() override
    {
        for (const auto& p : paths_)
            std::filesystem::remove(p);
        PcscTest::TearDown();
    }
    std::vector<std::filesystem::path> paths_;
};

TEST_F(BirTest, ARecordIsExactly720Bytes)
{
    PbHandleBir bir;
    EXPECT_FALSE(bir.has_record());
    Bytes bytes(721, 0x42);
    EXPECT_EQ(bir.from_bytes(bytes.data(), 719), static_cast<int>(SCARD_E_INVALID_VALUE));
    EXPECT_EQ(bir.from_bytes(bytes.data(), 721), static_cast<int>(SCARD_E_INVALID_VALUE));
    EXPECT_FALSE(bir.has_record());
    EXPECT_EQ(bir.from_file(file(720).string().c_str()), 0);
    EXPECT_TRUE(bir.has_record());
    PbHandleBir other;
    EXPECT_EQ(other.from_file(file(719).string().c_str()), static_cast<int>(SCARD_E_INVALID_VALUE));
    EXPECT_EQ(other.from_file(file(721).string().c_str()), static_cast<int>(SCARD_E_INVALID_VALUE));
    EXPECT_EQ(other.from_file("/nonexistent/bir"), static_cast<int>(SCARD_E_FILE_NOT_FOUND));
    EXPECT_FALSE(other.has_record());
}

TEST_F(BirTest, WritesOnlyPiecesOfTheRecordAndPutsTheStatusWordFirst)
{
    auto card = scripted_reader("R");
    HandleR2 r2;
    ASSERT_EQ(r2.InitRM(), 1);
    ASSERT_EQ(r2.Connect("R"), 0);
    PbHandleBir bir;
    Bytes record(720, 0x5A);
    ASSERT_EQ(bir.from_bytes(record.data(), record.size()), 0);
    bir.set_transmit(sim::inproc_pcsc_api().Transmit);

    SCARD_IO_REQUEST pci{SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
    const unsigned char header[5] = {0x00, 0x20, 0x00, 0x81, 0x14};
    unsigned char recv[32] = {};
    unsigned long recvLen = sizeof recv;
    // A piece past the end of the record, or a send length that is not header + piece.
    EXPECT_EQ(bir.write_bir_to_card(700, 5, 100, 1, &pci, header, 105, nullptr, recv, &recvLen),
              static_cast<int>(SCARD_E_INVALID_PARAMETER));
    EXPECT_EQ(bir.write_bir_to_card(700, 5, 20, 1, &pci, header, 24, nullptr, recv, &recvLen),
              static_cast<int>(SCARD_E_INVALID_PARAMETER));
    EXPECT_TRUE(pcsc().exchanges().empty());

    card->expect("0020008114" + times(20, "5A"), "AABB 9000");
    EXPECT_EQ(
        bir.write_bir_to_card(700, 5, 20, r2.handle(), &pci, header, 25, nullptr, recv, &recvLen),
        0);
    EXPECT_EQ(to_hex({recv, recvLen}), "9000AABB");
}

} // namespace
} // namespace ombrix::test
