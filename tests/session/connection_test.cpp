// The context and its owner, connecting by name and to the first usable reader.
// The PC/SC failures of each call are cells of the fault matrix (tests/faults).
#include "tests/session/session_test_util.h"

namespace ombrix::test {
namespace {

using ConnectionTest = PcscTest;

TEST_F(ConnectionTest, InitRMTakesTheServiceWhenItStarts)
{
    pcsc().fail(PcscCall::EstablishContext, SCARD_E_NO_SERVICE, 4);
    ProbeSession session;
    EXPECT_EQ(session.InitRM(), 1);
    EXPECT_EQ(pcsc().calls(PcscCall::EstablishContext), 5);
    EXPECT_EQ(g_sleeps.load(), 4); // also after the attempt that succeeded
    EXPECT_NE(session.context(), 0);
    EXPECT_EQ(session.InitRM(), 1); // already there: nothing more is asked
    EXPECT_EQ(pcsc().calls(PcscCall::EstablishContext), 5);
}

TEST_F(ConnectionTest, OnlyTheSessionThatEstablishedTheContextReleasesIt)
{
    scripted_reader("R")->otherwise("90 00");
    {
        auto source = std::make_unique<ProbeSession>();
        ASSERT_EQ(source->InitRM(), 1);
        ASSERT_EQ(source->Connect("R"), 0);
        {
            ProbeSession copy(*source);
            EXPECT_EQ(copy.context(), source->context());
            EXPECT_EQ(copy.card(), source->card());
            EXPECT_STREQ(copy.GetReaderName(), "R");
            EXPECT_NE(copy.GetReaderName(), source->GetReaderName()); // its own copy
            EXPECT_EQ(copy.ExitRM(), 1);
        }
        EXPECT_EQ(pcsc().open_contexts(), 1);
        // Both sessions connect again and disconnect: nothing is freed twice.
        ProbeSession copy(*source);
        EXPECT_EQ(copy.Connect("R"), 0);
        EXPECT_EQ(copy.Disconnect(), 0);
        EXPECT_EQ(source->Disconnect(), 0);
        EXPECT_EQ(pcsc().open_contexts(), 1);
    }
    EXPECT_EQ(pcsc().open_contexts(), 0);
    EXPECT_EQ(pcsc().open_handles(), 0);
}

TEST_F(ConnectionTest, AssignmentGivesUpWhatTheTargetOwned)
{
    scripted_reader("R")->otherwise("90 00");
    ProbeSession a, b;
    ASSERT_EQ(a.InitRM(), 1);
    ASSERT_EQ(b.InitRM(), 1);
    ASSERT_EQ(b.Connect("R"), 0);
    b.give_key(0x11);
    EXPECT_EQ(pcsc().open_contexts(), 2);
    b = a; // b's own context is released, a's is shared
    EXPECT_EQ(pcsc().open_contexts(), 1);
    EXPECT_EQ(b.context(), a.context());
    EXPECT_EQ(b.sm_key(), nullptr);
    b = b; // survives self-assignment
    EXPECT_EQ(b.context(), a.context());
    EXPECT_EQ(b.ExitRM(), 1);
    EXPECT_EQ(pcsc().open_contexts(), 1);
}

TEST_F(ConnectionTest, FirstUsableReaderSkipsThoseThatRefuse)
{
    scripted_reader("One")->otherwise("90 00");
    scripted_reader("Two")->otherwise("90 00");
    scripted_reader("Three")->otherwise("90 00");
    pcsc().reader("One").set_held_exclusively(true);
    pcsc().reader("Three").set_held_exclusively(true);
    ProbeSession session;
    ASSERT_EQ(session.InitRM(), 1);
    const int before = g_lConnectCount;
    EXPECT_EQ(session.Connect(nullptr), 0);
    EXPECT_STREQ(session.GetReaderName(), "Two");
    EXPECT_EQ(g_lConnectCount, before + 1);
    EXPECT_NE(session.card(), 0);
}

TEST_F(ConnectionTest, FirstUsableReaderReportsTheLastRefusal)
{
    pcsc().add_reader("Empty");
    scripted_reader("Busy");
    pcsc().reader("Busy").set_held_exclusively(true);
    ProbeSession session;
    ASSERT_EQ(session.InitRM(), 1);
    EXPECT_EQ(session.Connect(nullptr), SCARD_E_SHARING_VIOLATION);
    EXPECT_EQ(session.GetReaderName(), nullptr);
    EXPECT_EQ(session.card(), 0);

    pcsc().reset();
    ProbeSession lonely;
    ASSERT_EQ(lonely.InitRM(), 1);
    EXPECT_EQ(lonely.Connect(nullptr), SCARD_E_NO_READERS_AVAILABLE);
}

TEST_F(ConnectionTest, NamedConnectToAnEmptyReaderKeepsTheName)
{
    pcsc().add_reader("Empty");
    ProbeSession session;
    ASSERT_EQ(session.InitRM(), 1);
    const int before = g_lConnectCount;
    EXPECT_EQ(session.Connect("Empty"), SCARD_E_NO_SMARTCARD);
    EXPECT_STREQ(session.GetReaderName(), "Empty");
    EXPECT_EQ(g_lConnectCount, before + 1);
    EXPECT_EQ(session.card(), 0);

    EXPECT_EQ(session.Connect("Nowhere"), SCARD_E_UNKNOWN_READER);
    EXPECT_STREQ(session.GetReaderName(), "Empty");
    EXPECT_EQ(g_lConnectCount, before + 1);
}

TEST_F(ConnectionTest, TheCachedKeyNeverOutlivesItsCard)
{
    scripted_reader("R")->otherwise("90 00");
    ProbeSession session;
    ASSERT_EQ(session.InitRM(), 1);
    ASSERT_EQ(session.Connect("R"), 0);
    session.give_key(0x42);
    ASSERT_EQ(session.Connect("R"), 0); // another card could be there now
    EXPECT_EQ(session.sm_key(), nullptr);
    session.give_key(0x42);
    EXPECT_EQ(session.Disconnect(), 0);
    EXPECT_EQ(session.sm_key(), nullptr);
    session.give_key(0x42);
    EXPECT_EQ(session.Connect("Nowhere"), SCARD_E_UNKNOWN_READER);
    EXPECT_EQ(session.sm_key(), nullptr);
}

TEST_F(ConnectionTest, DisconnectFailureStillForgetsTheCard)
{
    scripted_reader("R");
    ProbeSession session;
    ASSERT_EQ(session.InitRM(), 1);
    ASSERT_EQ(session.Connect("R"), 0);
    pcsc().fail(PcscCall::Disconnect, SCARD_E_INVALID_HANDLE);
    EXPECT_EQ(session.Disconnect(), SCARD_E_INVALID_HANDLE);
    EXPECT_EQ(session.card(), 0);
}

TEST_F(ConnectionTest, AtrAndTransactions)
{
    auto card = scripted_reader("R");
    ProbeSession session;
    ASSERT_EQ(session.InitRM(), 1);
    ASSERT_EQ(session.Connect("R"), 0);
    // (A short buffer and the fallback to the reader status: the fault matrix.)
    unsigned char atr[64];
    unsigned long length = sizeof atr;
    ASSERT_EQ(session.GetATR(atr, &length), 0);
    EXPECT_EQ(Bytes(atr, atr + length), card->atr());

    session.LockSC();
    EXPECT_EQ(pcsc().open_transactions(), 1);
    session.UnlockSC();
    EXPECT_EQ(pcsc().open_transactions(), 0);
    session.UnlockSC(); // a failure is only traced
}

} // namespace
} // namespace ombrix::test
