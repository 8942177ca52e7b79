// The shared library over the real libpcsclite, pcscd and the virtual reader,
// with ombrix-sim's R2 demo card ("main") in reader 0 and reader 1 empty.
// Runs inside the e2e fixture (tests/e2e/CMakeLists.txt); the harness is
// driven through the e2e-ctl program named by OMBRIX_E2E_CTL.
#include "ombrix/card_session.h"
#include "sim/card/ombrix_card.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr const char* kReader0 = "Virtual PCD 00 00";
constexpr const char* kReader1 = "Virtual PCD 00 01";
constexpr long kNoSmartcard = 0x8010000C; // SCARD_E_NO_SMARTCARD
constexpr long kPcscFacility = 0x80100000;
// The demo image's application DF and its greeting, a length-prefixed text file.
constexpr std::uint16_t kDemoDf = 0x5000;
constexpr std::uint16_t kDemoEf = 0x5001;

// Runs `e2e-ctl ARGS`; its own waits are bounded, so this is too.
int ctl(const std::string& args)
{
    const char* path = std::getenv("OMBRIX_E2E_CTL");
    if (path == nullptr)
        return -1;
    return std::system(("'" + std::string(path) + "' " + args).c_str());
}

bool is_pcsc_error(long rc)
{
    return (static_cast<unsigned long>(rc) & 0xFFFF0000UL) == kPcscFacility;
}

// The card the harness inserted, for the expected values.
const ombrix::sim::OmbrixCard& model_card()
{
    static const auto card = ombrix::sim::OmbrixCard::builtin(ombrix::sim::Model::R2, "demo");
    return *card;
}

struct Answer {
    long rc = -1;
    Bytes data;
    unsigned sw = 0;
};

Answer send(CCardSession& s, unsigned char ins, unsigned char p1, unsigned char p2,
            Bytes data = {}, unsigned char le = 0)
{
    APDU apdu{0x00, ins, p1, p2, static_cast<unsigned char>(data.size()), data.data(), le};
    unsigned char resp[256] = {};
    unsigned char len = sizeof resp - 1;
    unsigned char sw1 = 0, sw2 = 0;
    Answer a;
    a.rc = s.Send(apdu, resp, &len, &sw1, &sw2);
    if (a.rc == 0) {
        a.data.assign(resp, resp + len);
        a.sw = static_cast<unsigned>(sw1 << 8 | sw2);
    }
    return a;
}

class LibraryE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(std::getenv("OMBRIX_E2E_CTL"), nullptr) << "run through ctest (e2e fixture)";
        // An earlier test may have left the card out.
        ASSERT_EQ(ctl("sim-insert main"), 0);
        ASSERT_EQ(session.InitRM(), 1);
    }
    void TearDown() override
    {
        session.Disconnect();
        session.ExitRM();
    }
    CCardSession session;
};

TEST_F(LibraryE2E, ConnectsToTheVirtualCardAndReadsTheModelsAtr)
{
    ASSERT_EQ(session.Connect(kReader0), 0);
    EXPECT_STREQ(session.GetReaderName(), kReader0);
    unsigned char atr[64] = {};
    unsigned long atr_len = sizeof atr;
    const long rc = session.GetATR(atr, &atr_len);
    // pcsc-lite hands SCARD_ATTR_ATR_STRING to the reader driver, and the
    // vpcd driver does not serve it (pcscd logs "unknown tag 590595").
    ASSERT_EQ(rc, 0) << "GetATR: 0x" << std::hex << rc;
    EXPECT_EQ(Bytes(atr, atr + atr_len), model_card().atr());
}

TEST_F(LibraryE2E, SelectsAndReadsADemoFile)
{
    ASSERT_EQ(session.Connect(kReader0), 0);
    const std::vector<std::uint16_t> path = {0x3F00, kDemoDf, kDemoEf};
    const auto expected = model_card().file_data(path);
    ASSERT_TRUE(expected) << "the demo image has no such transparent file";
    ASSERT_GE(expected->size(), 1u);

    for (const std::uint16_t fid : path) {
        const Answer a = send(session, 0xA4, 0x00, 0x00,
                              {static_cast<std::uint8_t>(fid >> 8), static_cast<std::uint8_t>(fid)});
        ASSERT_EQ(a.rc, 0);
        ASSERT_EQ(a.sw, 0x9000u) << std::hex << "SELECT " << fid;
    }
    const auto le = static_cast<unsigned char>(std::min<std::size_t>(expected->size(), 0x70));
    const Answer read = send(session, 0xB0, 0x00, 0x00, {}, le);
    ASSERT_EQ(read.rc, 0);
    EXPECT_EQ(read.sw, 0x9000u);
    EXPECT_EQ(read.data, Bytes(expected->begin(), expected->begin() + le));
}

TEST_F(LibraryE2E, TheSecondReaderIsEmpty)
{
    EXPECT_EQ(session.Connect(kReader1), kNoSmartcard);
}

TEST_F(LibraryE2E, ARemovedCardGivesAPcscErrorAndComesBackOnReinsertion)
{
    ASSERT_EQ(session.Connect(kReader0), 0);
    ASSERT_EQ(send(session, 0xA4, 0x00, 0x00, {0x3F, 0x00}).sw, 0x9000u);

    // Returns once pcscd has seen the reader empty (vpcd polls every 400 ms).
    ASSERT_EQ(ctl("sim-remove main"), 0);
    const Answer gone = send(session, 0xA4, 0x00, 0x00, {0x3F, 0x00});
    EXPECT_TRUE(is_pcsc_error(gone.rc)) << "Send after removal: 0x" << std::hex << gone.rc;
    EXPECT_EQ(session.Disconnect(), 0);
    EXPECT_EQ(session.Connect(kReader0), kNoSmartcard);

    ASSERT_EQ(ctl("sim-insert main"), 0);
    ASSERT_EQ(session.Connect(kReader0), 0);
    EXPECT_EQ(send(session, 0xA4, 0x00, 0x00, {0x3F, 0x00}).sw, 0x9000u);
}

// Monitors blocked in their waits must leave every other PC/SC call of the
// process free. pcsc-lite holds a context's lock for the whole of a blocking
// SCardGetStatusChange and looks contexts up under a process-wide lock: ten
// monitors waiting on one context, or a monitor waiting on the session's own
// context, used to freeze the session's exchanges until a card event came.
class MonitorsAndExchanges : public LibraryE2E {
protected:
    static void on_event(char* reader, int event)
    {
        std::lock_guard lock(mutex_);
        if (event == 1 && std::strcmp(reader, kReader0) == 0)
            ++present_;
        changed_.notify_all();
    }

    // Whether `count` monitors of reader 0 announced the card; bounded, so a
    // monitor that never starts fails the test instead of hanging it.
    static bool announced(int count)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return present_ >= count; });
    }

    // 20 SELECT MF exchanges, run apart so that a freeze is seen as one.
    bool exchanges_complete()
    {
        auto done = std::async(std::launch::async, [this] {
            for (int i = 0; i < 20; ++i)
                if (send(session, 0xA4, 0x00, 0x00, {0x3F, 0x00}).sw != 0x9000u)
                    return false;
            return true;
        });
        const bool finished = done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        // A stop cancels the waits, which frees a frozen exchange too.
        CCardSession::StopCardMonitoring();
        return finished && done.get();
    }

    void SetUp() override
    {
        LibraryE2E::SetUp();
        present_ = 0;
    }
    void TearDown() override
    {
        CCardSession::StopCardMonitoring();
        LibraryE2E::TearDown();
    }

    static inline std::mutex mutex_;
    static inline std::condition_variable changed_;
    static inline int present_ = 0;
};

TEST_F(MonitorsAndExchanges, TenNamedMonitorsLeaveASessionFree)
{
    char reader0[] = "Virtual PCD 00 00";
    char reader1[] = "Virtual PCD 00 01";
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(CCardSession::StartCardMonitoringEx(reader0, on_event, 0, 1), 0);
        ASSERT_EQ(CCardSession::StartCardMonitoringEx(reader1, on_event, 0, 1), 0);
    }
    ASSERT_TRUE(announced(5));
    ASSERT_EQ(session.Connect(kReader0), 0);
    EXPECT_TRUE(exchanges_complete()) << "exchanges froze while the monitors waited";
}

TEST_F(MonitorsAndExchanges, ASessionsOwnMonitorLeavesItsExchangesFree)
{
    ASSERT_EQ(session.Connect(kReader0), 0);
    ASSERT_EQ(session.StartCardMonitoring(on_event, nullptr, 0), 0);
    ASSERT_TRUE(announced(1));
    EXPECT_TRUE(exchanges_complete()) << "exchanges froze while the session's monitor waited";
}

} // namespace
