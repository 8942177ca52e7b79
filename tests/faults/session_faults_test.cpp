// PC/SC failures of the single-call operations of the session: the context,
// the reader list, connecting, the exchange, the ATR and vendor attributes,
// and card transactions. Every cell checks the result, the outputs that must
// stay untouched, and that nothing is left open.
#include "ombrix/card_session.h"
#include "ombrix/status.h"
#include "tests/faults/fault_util.h"
#include "tests/faults/lying_pcsc.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace ombrix::test {
namespace {

constexpr unsigned char kSentinel() { return 0xEE; }

// -- the context ---------------------------------------------------------------

struct EstablishCell {
    long error;
    int times; // InprocPcsc::kAlways: the resource manager never comes
};

class EstablishFaults : public PcscTest, public ::testing::WithParamInterface<EstablishCell> {};

TEST_P(EstablishFaults, InitRmWaitsThroughSleepsAndLeavesNoContextWhenItGivesUp)
{
    const auto [error, times] = GetParam();
    pcsc().fail(PcscCall::EstablishContext, error, times);
    {
        CCardSession session;
        const int rc = session.InitRM();
        if (times == InprocPcsc::kAlways) {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(pcsc().calls(PcscCall::EstablishContext), 201);
            EXPECT_EQ(g_sleeps.load(), 200) << "the wait is bounded";
            EXPECT_EQ(g_slept_ms.load(), 200u * 250u);
            EXPECT_EQ(pcsc().open_contexts(), 0);
            // Nothing can be sent without a context.
            unsigned char sw1 = 0x11, sw2 = 0x22;
            EXPECT_EQ(session.Send(APDU{0, 0xCA, 0, 0, 0, nullptr, 0}, nullptr, nullptr, &sw1, &sw2),
                      OMBRIX_E_NOT_CONNECTED);
            EXPECT_EQ(sw1, 0x11);
            EXPECT_EQ(sw2, 0x22);
        } else {
            EXPECT_EQ(rc, 1);
            EXPECT_EQ(pcsc().open_contexts(), 1);
        }
    }
    expect_nothing_left_open();
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, EstablishFaults,
    ::testing::Values(EstablishCell{pcsc_code(SCARD_E_NO_SERVICE), 1},
                      EstablishCell{pcsc_code(SCARD_E_NO_SERVICE), InprocPcsc::kAlways},
                      EstablishCell{pcsc_code(SCARD_E_NO_MEMORY), 1},
                      EstablishCell{pcsc_code(SCARD_E_NO_MEMORY), InprocPcsc::kAlways}),
    [](const auto& info) {
        return std::string(error_name(info.param.error)) +
               (info.param.times == 1 ? "_Once" : "_Always");
    });

// -- listing readers -------------------------------------------------------------

enum class Lister { GetReaderList, ConnectFirst };

struct ListCell {
    Lister lister;
    long error;   // 0: no fault, the lie instead
    int position; // 1: the length query, 2: the names
};

class ListFaults : public PcscTest, public ::testing::WithParamInterface<ListCell> {};

TEST_P(ListFaults, ListingFailuresAreReturnedWithNothingWritten)
{
    const auto [lister, error, position] = GetParam();
    pcsc().add_reader("Empty");
    scripted_reader("Card");
    std::unique_ptr<LyingPcsc> lie;
    if (error != 0)
        pcsc().fail(PcscCall::ListReaders, error, 1, position - 1);
    else
        lie = std::make_unique<LyingPcsc>(Lie::ListLongerThanData);
    {
        CCardSession session;
        ASSERT_EQ(session.InitRM(), 1);
        if (lister == Lister::GetReaderList) {
            char* list = nullptr;
            long count = 77;
            const long rc = session.GetReaderList(1, &list, count);
            if (error != 0) {
                EXPECT_EQ(rc, error);
                EXPECT_EQ(count, 0) << "no name listed";
                EXPECT_EQ(list, nullptr);
            } else {
                EXPECT_EQ(rc, 0);
                ASSERT_EQ(count, 1);
                ASSERT_NE(list, nullptr);
                EXPECT_STREQ(list, "Card");
            }
            std::free(list);
        } else {
            const long rc = session.Connect(nullptr);
            if (error != 0) {
                EXPECT_EQ(rc, error);
                EXPECT_EQ(session.GetReaderName(), nullptr);
            } else {
                EXPECT_EQ(rc, 0);
                EXPECT_STREQ(session.GetReaderName(), "Card");
                EXPECT_EQ(session.Disconnect(), 0);
            }
        }
        EXPECT_EQ(pcsc().open_handles(), 0);
    }
    expect_nothing_left_open();
}

std::vector<ListCell> list_cells()
{
    std::vector<ListCell> out;
    for (Lister lister : {Lister::GetReaderList, Lister::ConnectFirst}) {
        for (long error : {pcsc_code(SCARD_E_NO_READERS_AVAILABLE), pcsc_code(SCARD_E_NO_SERVICE),
                           pcsc_code(SCARD_E_NO_MEMORY), pcsc_code(SCARD_E_INSUFFICIENT_BUFFER)})
            for (int position : {1, 2})
                out.push_back({lister, error, position});
        out.push_back({lister, 0, 2});
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(Matrix, ListFaults, ::testing::ValuesIn(list_cells()), [](const auto& info) {
    const auto& c = info.param;
    return std::string(c.lister == Lister::GetReaderList ? "GetReaderList_" : "ConnectFirst_") +
           (c.error == 0 ? std::string("LengthLongerThanData")
                         : std::string(error_name(c.error)) + "_At" + std::to_string(c.position));
});

// -- connecting --------------------------------------------------------------------

// (named connect or first usable reader, the connect's error)
class ConnectFaults : public PcscTest,
                      public ::testing::WithParamInterface<std::tuple<bool, long>> {};

TEST_P(ConnectFaults, AFailedConnectLeavesNoHandleAndNothingCanBeSent)
{
    const auto [named, error] = GetParam();
    scripted_reader("A")->answer("9000");
    scripted_reader("B")->answer("9000");
    pcsc().fail(PcscCall::Connect, error);
    {
        CCardSession session;
        ASSERT_EQ(session.InitRM(), 1);
        if (named) {
            EXPECT_EQ(session.Connect("A"), error);
            // An empty reader keeps its name, as the named connect always did.
            const bool empty = error == pcsc_code(SCARD_W_REMOVED_CARD) ||
                               error == pcsc_code(SCARD_E_NO_SMARTCARD);
            if (empty)
                EXPECT_STREQ(session.GetReaderName(), "A");
            else
                EXPECT_EQ(session.GetReaderName(), nullptr);
            EXPECT_EQ(pcsc().open_handles(), 0);
            unsigned char sw1 = 0x11, sw2 = 0x22;
            EXPECT_EQ(session.Send(APDU{0, 0xCA, 0, 0, 0, nullptr, 0}, nullptr, nullptr, &sw1, &sw2),
                      OMBRIX_E_NOT_CONNECTED);
            EXPECT_EQ(sw1, 0x11);
            EXPECT_EQ(sw2, 0x22);
            EXPECT_EQ(session.Send(APDU{0, 0xCA, 0, 0, 0, nullptr, 0}, nullptr, nullptr),
                      OMBRIX_E_NOT_CONNECTED);
        } else {
            // The first reader refuses: the next one is taken.
            EXPECT_EQ(session.Connect(nullptr), 0);
            EXPECT_STREQ(session.GetReaderName(), "B");
            EXPECT_EQ(pcsc().open_handles(), 1);
            EXPECT_EQ(session.Disconnect(), 0);
        }
        EXPECT_TRUE(pcsc().exchanges().empty());
    }
    expect_nothing_left_open();
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, ConnectFaults,
    ::testing::Combine(::testing::Bool(),
                       ::testing::Values(pcsc_code(SCARD_E_NO_SMARTCARD),
                                         pcsc_code(SCARD_E_SHARING_VIOLATION),
                                         pcsc_code(SCARD_W_REMOVED_CARD),
                                         pcsc_code(SCARD_E_NO_SERVICE))),
    [](const auto& info) {
        return std::string(std::get<0>(info.param) ? "Named_" : "FirstUsable_") +
               error_name(std::get<1>(info.param));
    });

// -- the exchange ----------------------------------------------------------------------

// A session connected to reader "R", whose card answers 01 02 03 90 00 to
// everything; at the end the session disconnects and nothing stays open.
template <class Cell>
class ConnectedFaults : public PcscTest, public ::testing::WithParamInterface<Cell> {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        scripted_reader("R")->otherwise("0102039000");
        pcsc().reader("R").set_vendor("Vendor Nine");
        ASSERT_EQ(session_->InitRM(), 1);
        ASSERT_EQ(session_->Connect("R"), 0);
    }
    void TearDown() override
    {
        lying_.reset();
        EXPECT_EQ(session_->Disconnect(), 0);
        session_.reset();
        expect_nothing_left_open();
        PcscTest::TearDown();
    }
    std::optional<CCardSession> session_{std::in_place};
    std::unique_ptr<LyingPcsc> lying_;
};

struct SendCell {
    long error; // 0: a lie about the answer's length instead
    Lie lie;
    int times;
};

using SendFaults = ConnectedFaults<SendCell>;

TEST_P(SendFaults, AFailedExchangeWritesNoOutput)
{
    const auto [error, lie, times] = GetParam();
    if (error != 0)
        pcsc().fail(PcscCall::Transmit, error, times);
    else
        lying_ = std::make_unique<LyingPcsc>(lie);
    std::array<unsigned char, 256> resp;
    resp.fill(kSentinel());
    unsigned char len = 0x77, sw1 = 0x11, sw2 = 0x22;
    TraceCapture trace;
    const long rc =
        session_->Send(APDU{0, 0xCA, 0x01, 0x81, 0, nullptr, 0x10}, resp.data(), &len, &sw1, &sw2);
    const bool fails = error == 0 || times == 2;
    if (fails) {
        // No status word where the platform says one is: no answer at all.
        EXPECT_EQ(rc, error != 0 ? error : OMBRIX_E_SHORT_RESPONSE);
        EXPECT_EQ(len, 0x77);
        EXPECT_EQ(sw1, 0x11);
        EXPECT_EQ(sw2, 0x22);
        EXPECT_TRUE(std::all_of(resp.begin(), resp.end(),
                                [](auto b) { return b == kSentinel(); }));
        char errval[32];
        std::snprintf(errval, sizeof errval, ";errval = %08x\n", static_cast<std::uint32_t>(rc));
        EXPECT_NE(trace.text().find(errval), std::string::npos) << errval;
    } else {
        // The second attempt's answer, with the receive length restored.
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(len, 3);
        EXPECT_EQ(to_hex({resp.data(), 3}), "010203");
        EXPECT_EQ(sw1, 0x90);
        EXPECT_EQ(sw2, 0x00);
    }
    EXPECT_EQ(pcsc().calls(PcscCall::Transmit), error != 0 ? 2 : 1);
    EXPECT_EQ(pcsc().calls(PcscCall::Reconnect), error == pcsc_code(SCARD_W_RESET_CARD) ? 1 : 0);
}

std::vector<SendCell> send_cells()
{
    std::vector<SendCell> out;
    for (long error : {pcsc_code(SCARD_W_REMOVED_CARD), pcsc_code(SCARD_W_RESET_CARD),
                       pcsc_code(SCARD_E_INSUFFICIENT_BUFFER), pcsc_code(SCARD_F_COMM_ERROR),
                       pcsc_code(SCARD_E_NO_SERVICE)})
        for (int times : {1, 2})
            out.push_back({error, Lie::None, times});
    out.push_back({0, Lie::TransmitShort, 1});
    out.push_back({0, Lie::TransmitOversized, 1});
    return out;
}

INSTANTIATE_TEST_SUITE_P(Matrix, SendFaults, ::testing::ValuesIn(send_cells()), [](const auto& info) {
    const auto& c = info.param;
    if (c.error == 0)
        return std::string(c.lie == Lie::TransmitShort ? "ShortAnswer" : "LengthPastTheBuffer");
    return std::string(error_name(c.error)) + (c.times == 1 ? "_Once" : "_Twice");
});

// -- the ATR and the vendor name ------------------------------------------------------

struct AttribCell {
    const char* name;
    PcscCall call; // the failing call, or Status with error 0 for a lie
    long error;
    Lie lie;
    unsigned long capacity;
    long expected;
};

using AttribFaults = ConnectedFaults<AttribCell>;

TEST_P(AttribFaults, GetAtrWritesTheLengthOnlyForAnAtrThatFits)
{
    const AttribCell c = GetParam();
    if (c.error != 0)
        pcsc().fail(c.call, c.error);
    if (c.lie != Lie::None)
        lying_ = std::make_unique<LyingPcsc>(c.lie);
    std::array<unsigned char, 64> atr;
    atr.fill(kSentinel());
    unsigned long length = c.capacity;
    EXPECT_EQ(session_->GetATR(atr.data(), &length), c.expected);
    if (c.expected != 0) {
        EXPECT_EQ(length, c.capacity) << "length written after a failure";
    } else {
        EXPECT_EQ(length, ScriptedCard::default_atr().size());
        EXPECT_EQ(Bytes(atr.begin(), atr.begin() + static_cast<long>(length)),
                  ScriptedCard::default_atr());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, AttribFaults,
    ::testing::Values(
        AttribCell{"AttribRemoved", PcscCall::GetAttrib, pcsc_code(SCARD_W_REMOVED_CARD), Lie::None,
                   64, pcsc_code(SCARD_W_REMOVED_CARD)},
        AttribCell{"AttribNoService", PcscCall::GetAttrib, pcsc_code(SCARD_E_NO_SERVICE), Lie::None,
                   64, pcsc_code(SCARD_E_NO_SERVICE)},
        AttribCell{"AttribShortBuffer", PcscCall::GetAttrib, 0, Lie::None, 4,
                   pcsc_code(SCARD_E_INSUFFICIENT_BUFFER)},
        AttribCell{"AttribLongerThanBuffer", PcscCall::GetAttrib, 0, Lie::AttribOversized, 4,
                   OMBRIX_E_BUFFER_TOO_SMALL},
        AttribCell{"StatusFallback", PcscCall::Status, 0, Lie::AttribUnsupported, 64, 0},
        AttribCell{"StatusFallbackRemoved", PcscCall::Status, pcsc_code(SCARD_W_REMOVED_CARD),
                   Lie::AttribUnsupported, 64, pcsc_code(SCARD_W_REMOVED_CARD)},
        AttribCell{"StatusFallbackShortBuffer", PcscCall::Status, 0, Lie::AttribUnsupported, 4,
                   pcsc_code(SCARD_E_INSUFFICIENT_BUFFER)},
        // GetAttrib does not serve the ATR; SCardStatus claims more than it wrote.
        AttribCell{"StatusLongerThanBuffer", PcscCall::GetAttrib,
                   pcsc_code(SCARD_E_UNSUPPORTED_FEATURE), Lie::StatusOversized, 4,
                   OMBRIX_E_BUFFER_TOO_SMALL}),
    [](const auto& info) { return std::string(info.param.name); });

struct VendorCell {
    long error;
    long capacity;
    long expected;
};

using VendorFaults = ConnectedFaults<VendorCell>;

TEST_P(VendorFaults, GetManufacturerFreesThePlatformBufferOnEveryPath)
{
    const auto [error, capacity, expected] = GetParam();
    if (error != 0)
        pcsc().fail(PcscCall::GetAttrib, error);
    std::array<unsigned char, 64> name;
    name.fill(kSentinel());
    long len = capacity;
    EXPECT_EQ(session_->GetManufacturer(name.data(), len), expected);
    EXPECT_EQ(pcsc().outstanding_allocations(), 0);
    if (expected == 0) {
        EXPECT_EQ(len, 11);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(name.data()), 11), "Vendor Nine");
    } else {
        EXPECT_EQ(len, capacity);
        EXPECT_EQ(name[0], kSentinel());
    }
}

INSTANTIATE_TEST_SUITE_P(Matrix, VendorFaults,
                         ::testing::Values(VendorCell{0, 64, 0}, VendorCell{0, 11, 0}, VendorCell{0, 4, 1},
                                           VendorCell{0, -1, 1},
                                           VendorCell{pcsc_code(SCARD_W_REMOVED_CARD), 64,
                                                      pcsc_code(SCARD_W_REMOVED_CARD)},
                                           VendorCell{pcsc_code(SCARD_E_NO_MEMORY), 64,
                                                      pcsc_code(SCARD_E_NO_MEMORY)}));

// -- card transactions -----------------------------------------------------------------

using TransactionFaults = ConnectedFaults<long>;

TEST_P(TransactionFaults, AFailedLockOrUnlockLeavesNoTransactionOpen)
{
    pcsc().fail(PcscCall::BeginTransaction, GetParam());
    session_->LockSC();
    EXPECT_EQ(pcsc().open_transactions(), 0);
    session_->UnlockSC(); // nothing to end: only traced
    session_->LockSC();
    EXPECT_EQ(pcsc().open_transactions(), 1);
    pcsc().fail(PcscCall::EndTransaction, GetParam());
    session_->UnlockSC();
    session_->UnlockSC();
    EXPECT_EQ(pcsc().open_transactions(), 0);
}

INSTANTIATE_TEST_SUITE_P(Matrix, TransactionFaults,
                         ::testing::Values(pcsc_code(SCARD_W_REMOVED_CARD),
                                           pcsc_code(SCARD_E_SHARING_VIOLATION),
                                           pcsc_code(SCARD_E_NO_SERVICE)),
                         [](const auto& info) { return std::string(error_name(info.param)); });

} // namespace
} // namespace ombrix::test
