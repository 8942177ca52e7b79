// Transmission failures at every exchange of the composite operations: the
// chunked reads and writes of both generations, the two objects of a private
// key, and the secure-messaging bridge (derivation, challenge, command).
//
// A cell makes exchange `position` fail once (the retry of the exchange
// succeeds) or twice (the retry fails too), or has another application reset
// the card just before it. Every cell checks the result, the outputs that must
// stay untouched, what the card's file holds, that no challenge serves two
// protected commands, and that nothing is left open.
#include "ombrix/ombrix_r1.h"
#include "ombrix/ombrix_r2.h"
#include "ombrix/status.h"
#include "tests/faults/fault_util.h"
#include "tests/faults/file_card.h"

#include <array>
#include <cstring>
#include <memory>
#include <sstream>

namespace ombrix::test {
namespace {

enum class Op { R1ReadFile, R1WriteFile, R2ReadBinary, R2ReadFile, R2WriteFile, CreateKpri, Bridge };

struct OpInfo {
    Op op;
    const char* name;
    int exchanges; // in a run without faults
};

constexpr OpInfo kOps[] = {
    {Op::R1ReadFile, "R1ReadBinaryFile", 4},  // header, then 255 + 255 + 92
    {Op::R1WriteFile, "R1WriteBinaryFile", 3}, // 255 + 255 + 92
    {Op::R2ReadBinary, "R2cmdREAD_BINARY", 3}, // 112 + 112 + 76
    {Op::R2ReadFile, "R2ReadBinaryFile", 4},  // prefix, then 112 + 112 + 78
    {Op::R2WriteFile, "R2WriteBinaryFile", 3}, // 112 + 112 + 78
    {Op::CreateKpri, "Create_Kpri", 3},        // life cycle, object 20, object 21
    {Op::Bridge, "ProtectedRead", 3},          // GET DATA 01 81, GET CHALLENGE, READ BINARY
};

enum class Fault { Once, Twice, ResetByOther };

struct Cell {
    OpInfo op;
    int position; // 1-based exchange of the operation
    long error;   // for Once and Twice
    Fault fault;
};

std::string cell_name(const Cell& c)
{
    std::ostringstream s;
    s << c.op.name << "_At" << c.position << "_";
    if (c.fault == Fault::ResetByOther)
        s << "ResetByOtherApp";
    else
        s << error_name(c.error) << (c.fault == Fault::Once ? "_Once" : "_Twice");
    return s.str();
}

std::vector<Cell> cells()
{
    const long errors[] = {
        pcsc_code(SCARD_W_REMOVED_CARD), pcsc_code(SCARD_W_RESET_CARD),
        pcsc_code(SCARD_E_INSUFFICIENT_BUFFER), pcsc_code(SCARD_F_COMM_ERROR),
        pcsc_code(SCARD_E_NO_SERVICE)};
    std::vector<Cell> out;
    for (const OpInfo& op : kOps) {
        for (int position = 1; position <= op.exchanges; ++position) {
            for (long error : errors) {
                out.push_back({op, position, error, Fault::Once});
                out.push_back({op, position, error, Fault::Twice});
            }
            out.push_back({op, position, 0, Fault::ResetByOther});
        }
    }
    return out;
}

constexpr std::size_t kR1Content = 600;
constexpr std::size_t kR2Content = 300;
constexpr std::size_t kR2Read = 300;
constexpr std::size_t kBridgeRead = 50;
constexpr std::uint8_t kSentinel = 0xEE;
constexpr unsigned long kLengthSentinel = 0xEEEE;

// What the card's file starts as: a length-prefixed file of its own content.
Bytes initial_file(Op op)
{
    switch (op) {
    case Op::R1ReadFile: return prefixed(pattern(kR1Content, 1));
    case Op::R1WriteFile: return Bytes(kR1Content + 2, 0x55);
    case Op::R2ReadFile: return prefixed(pattern(kR2Content, 3));
    case Op::R2WriteFile: return Bytes(kR2Content + 2, 0x55);
    default: return pattern(kR2Read, 5);
    }
}

class CompositeFaults : public PcscTest, public ::testing::WithParamInterface<Cell> {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        card_ = std::make_shared<FileCard>(initial_file(GetParam().op.op));
        pcsc().add_reader("R", card_);
    }

    // Arms the cell's fault for the operation's exchange `position`.
    void arm(const Cell& c)
    {
        if (c.fault == Fault::ResetByOther) {
            const int answered_before = c.position - 1;
            if (answered_before == 0) {
                pcsc().reader("R").reset_card();
                return;
            }
            auto seen = std::make_shared<int>(0);
            pcsc().on_transmit([seen, answered_before](const sim::Exchange& e) {
                if (e.result == 0 && ++*seen == answered_before)
                    InprocPcsc::instance().reader("R").reset_card();
            });
            return;
        }
        pcsc().fail(PcscCall::Transmit, c.error, c.fault == Fault::Once ? 1 : 2, c.position - 1);
    }

    std::shared_ptr<FileCard> card_;
};

// A length-prefixed file read whole: all of its content, or nothing written.
template <class Read>
long read_whole(Read read, bool fails, const Bytes& content)
{
    std::array<unsigned char, 700> buf;
    buf.fill(kSentinel);
    unsigned long len = buf.size();
    const long rc = read(buf.data(), &len);
    if (!fails) {
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(len, content.size());
        EXPECT_EQ(slice(Bytes(buf.begin(), buf.end()), 0, content.size()), content);
    } else {
        EXPECT_EQ(len, buf.size()) << "length written after a failure";
        EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](auto b) { return b == kSentinel; }))
            << "buffer written after a failure";
    }
    return rc;
}

// A length-prefixed file written in chunks: the card's file holds exactly the
// whole chunks it acknowledged.
template <class Write>
long write_whole(Write write, const FileCard& card, const Bytes& file_before, const Cell& c,
                 Bytes content, std::size_t chunk)
{
    const long rc = write(content);
    const Bytes written = prefixed(content);
    const std::size_t chunks = c.fault == Fault::Twice ? static_cast<std::size_t>(c.position - 1) : 3;
    Bytes expected = file_before;
    std::copy_n(written.begin(), std::min(written.size(), chunks * chunk), expected.begin());
    EXPECT_EQ(card.file(), expected);
    return rc;
}

TEST_P(CompositeFaults, ResultOutputsAndCardStateFollowTheFault)
{
    const Cell c = GetParam();
    const bool fails = c.fault == Fault::Twice;
    const Bytes file_before = card_->file();
    const auto ulen = [](const Bytes& b) { return static_cast<unsigned long>(b.size()); };

    const bool r1 = c.op.op == Op::R1ReadFile || c.op.op == Op::R1WriteFile;
    std::unique_ptr<CCardSession> session;
    if (r1)
        session = connected<COmbrixR1>();
    else
        session = connected<COmbrixR2>();
    // Only the class the session is: a cast to the other is undefined.
    auto* card1 = r1 ? static_cast<COmbrixR1*>(session.get()) : nullptr;
    auto* card2 = r1 ? nullptr : static_cast<COmbrixR2*>(session.get());
    arm(c);

    long rc = -12345;
    switch (c.op.op) {
    case Op::R1ReadFile:
        rc = read_whole([&](unsigned char* b, unsigned long* l) { return card1->ReadBinaryFile(b, l); },
                        fails, pattern(kR1Content, 1));
        break;
    case Op::R2ReadFile:
        rc = read_whole(
            [&](unsigned char* b, unsigned long* l) { return card2->ReadBinaryFile(b, l, nullptr); },
            fails, pattern(kR2Content, 3));
        break;
    case Op::R1WriteFile:
        rc = write_whole([&](Bytes& d) { return card1->WriteBinaryFile(d.data(), ulen(d)); }, *card_,
                         file_before, c, pattern(kR1Content, 9), 255);
        break;
    case Op::R2WriteFile:
        rc = write_whole([&](Bytes& d) { return card2->WriteBinaryFile(d.data(), ulen(d), nullptr); },
                         *card_, file_before, c, pattern(kR2Content, 11), 112);
        break;
    case Op::R2ReadBinary: {
        std::array<unsigned char, kR2Read> buf;
        buf.fill(kSentinel);
        unsigned long len = kR2Read;
        rc = card2->cmdREAD_BINARY(buf.data(), &len, nullptr);
        EXPECT_EQ(len, kR2Read) << "cmdREAD_BINARY never writes the length";
        // The chunks that arrived stay; nothing after them is touched.
        const std::size_t arrived =
            fails ? static_cast<std::size_t>(c.position - 1) * 112 : kR2Read;
        EXPECT_EQ(Bytes(buf.begin(), buf.begin() + static_cast<long>(arrived)),
                  slice(file_before, 0, arrived));
        EXPECT_TRUE(std::all_of(buf.begin() + static_cast<long>(arrived), buf.end(),
                                [](auto b) { return b == kSentinel; }));
        break;
    }
    case Op::CreateKpri: {
        rc = card2->Create_Kpri(0x01, COmbrixR2::ALGO_RSA, 64, 0, nullptr, nullptr, nullptr);
        int put_data = 0;
        for (const auto& cmd : card_->received())
            put_data += cmd.size() > 4 && cmd[1] == 0xDA;
        // A life cycle that cannot be read counts as "not in phase 10": the
        // objects go all the same.
        const bool life_cycle_lost = fails && c.position == 1;
        const int expected_objects = !fails || life_cycle_lost ? 2 : c.position - 2;
        EXPECT_EQ(put_data, expected_objects);
        if (life_cycle_lost) {
            EXPECT_EQ(rc, 0);
        }
        break;
    }
    case Op::Bridge: {
        SMFLAGS both{1, 1};
        std::array<unsigned char, kBridgeRead> buf;
        buf.fill(kSentinel);
        unsigned long len = kBridgeRead;
        rc = card2->cmdREAD_BINARY(buf.data(), &len, &both);
        const auto count = [&](std::uint8_t ins) {
            int n = 0;
            for (const auto& cmd : card_->received())
                n += cmd[1] == ins;
            return n;
        };
        if (fails) {
            // The card never saw the protected command.
            EXPECT_EQ(count(0xB0), 0);
            EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](auto b) { return b == kSentinel; }));
            // The next protected command works, deriving the key again only
            // when the derivation was what failed.
            pcsc().clear_faults();
            const int derivations = count(0xCA);
            ASSERT_EQ(card2->cmdREAD_BINARY(buf.data(), &len, &both), 0);
            EXPECT_EQ(count(0xCA) - derivations, c.position == 1 ? 1 : 0);
        } else {
            ASSERT_EQ(rc, 0);
            EXPECT_EQ(count(0xCA), 1);
        }
        EXPECT_EQ(Bytes(buf.begin(), buf.end()), slice(file_before, 0, kBridgeRead));
        EXPECT_EQ(count(0xB0), 1);
        break;
    }
    }
    EXPECT_EQ(session->Disconnect(), 0);
    session.reset();

    if (fails) {
        EXPECT_EQ(rc, c.op.op == Op::CreateKpri && c.position == 1 ? 0 : c.error)
            << "the PC/SC error of the second attempt, unchanged";
    } else {
        EXPECT_EQ(rc, 0) << "the retry of the exchange succeeded";
    }
    // A reset (by injection or by another application) is followed by one
    // reconnect before the retry; no other failure reconnects.
    const bool reset = c.fault == Fault::ResetByOther || c.error == pcsc_code(SCARD_W_RESET_CARD);
    EXPECT_EQ(pcsc().calls(PcscCall::Reconnect), reset ? 1 : 0);
    expect_each_challenge_used_once();
    pcsc().on_transmit(nullptr);
    expect_nothing_left_open();
}

INSTANTIATE_TEST_SUITE_P(Matrix, CompositeFaults, ::testing::ValuesIn(cells()),
                         [](const auto& info) { return cell_name(info.param); });

} // namespace
} // namespace ombrix::test
