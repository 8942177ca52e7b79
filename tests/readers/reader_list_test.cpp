// The reader list and the reader's manufacturer.
#include "tests/session/session_test_util.h"

#include <cstdlib>
#include <string>

namespace ombrix::test {
namespace {

class ReaderListTest : public PcscTest {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        ASSERT_EQ(session_.InitRM(), 1);
    }

    // The list the session allocates, as a string with its zero bytes (read
    // name by name: under ASan a missing zero byte is a read past the block).
    long allocated_list(int onlyWithCard, std::string& out, long& count)
    {
        char* list = nullptr;
        const long result = session_.GetReaderList(onlyWithCard, &list, count);
        out.clear();
        const char* name = list;
        for (long i = 0; name != nullptr && i < count; ++i) {
            out.append(name, std::strlen(name) + 1);
            name += std::strlen(name) + 1;
        }
        std::free(list);
        return result;
    }

    ProbeSession session_;
};

using namespace std::string_literals;

TEST_F(ReaderListTest, EmptyReaderIsListedOnlyWhenCardsAreNotRequired)
{
    pcsc().add_reader("Empty");
    scripted_reader("Card");

    std::string list;
    long count = -1;
    EXPECT_EQ(allocated_list(0, list, count), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(list, "Empty\0Card\0"s);

    EXPECT_EQ(allocated_list(1, list, count), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(list, "Card\0"s);
    EXPECT_EQ(pcsc().open_handles(), 0); // every probe was closed
}

TEST_F(ReaderListTest, ResultIsTheLastConnectEvenWhenAReaderWasListed)
{
    scripted_reader("Card");
    pcsc().add_reader("Empty");
    std::string list;
    long count = 0;
    // pcsc-lite's answer for the empty reader passes through unchanged.
    EXPECT_EQ(allocated_list(1, list, count), static_cast<long>(SCARD_E_NO_SMARTCARD));
    EXPECT_EQ(count, 1);
    EXPECT_EQ(list, "Card\0"s);

    // The original platform's answer for an empty reader is an empty reader too.
    pcsc().fail(PcscCall::Connect, SCARD_W_REMOVED_CARD, 1, 1);
    EXPECT_EQ(allocated_list(0, list, count), static_cast<long>(SCARD_W_REMOVED_CARD));
    EXPECT_EQ(count, 2);
}

TEST_F(ReaderListTest, CallerBufferMustHoldTheNames)
{
    scripted_reader("A");
    scripted_reader("BC");
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    char* list = buffer;

    long count = 4; // one byte short
    EXPECT_EQ(session_.GetReaderList(1, &list, count),
              static_cast<long>(SCARD_E_INSUFFICIENT_BUFFER));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(std::string(buffer, sizeof buffer), "xxxxxxxx");
    count = -5;
    EXPECT_EQ(session_.GetReaderList(1, &list, count),
              static_cast<long>(SCARD_E_INSUFFICIENT_BUFFER));

    count = 5;
    EXPECT_EQ(session_.GetReaderList(1, &list, count), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(list, buffer);
    EXPECT_EQ(std::string(buffer, sizeof buffer), "A\0BC\0xxx"s);
}

TEST_F(ReaderListTest, LeavesTheSessionWithoutACard)
{
    scripted_reader("A");
    ASSERT_EQ(session_.Connect("A"), 0);
    session_.give_key(0x55);
    std::string list;
    long count = 0;
    EXPECT_EQ(allocated_list(1, list, count), 0);
    EXPECT_EQ(session_.card(), 0);
    EXPECT_EQ(session_.sm_key(), nullptr);
    EXPECT_EQ(pcsc().open_handles(), 0); // the session's own connection was closed, not lost
}

TEST_F(ReaderListTest, MissingOutputIsRefused)
{
    // (The PC/SC failures of the listing: the fault matrix, tests/faults.)
    long count = 7;
    EXPECT_EQ(session_.GetReaderList(0, nullptr, count), OMBRIX_E_INVALID_ARGUMENT);
}

TEST_F(PcscTest, ManufacturerWithoutABufferLeavesTheLength)
{
    // (Copies, short buffers and failures: the fault matrix, tests/faults.)
    scripted_reader("R");
    pcsc().reader("R").set_vendor("Ombrix VR");
    ProbeSession session;
    ASSERT_EQ(session.InitRM(), 1);
    ASSERT_EQ(session.Connect("R"), 0);
    long len = 64;
    EXPECT_EQ(session.GetManufacturer(nullptr, len), 1);
    EXPECT_EQ(len, 64);
    EXPECT_EQ(pcsc().outstanding_allocations(), 0);
}

} // namespace
} // namespace ombrix::test
