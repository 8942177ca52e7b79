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

    // The list the session allocates, as a string with its zero bytes.
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

TEST_F(ReaderListTest, AllocatedListHoldsExactlyTheNames)
{
    scripted_reader("A");
    scripted_reader("BC");
    char* list = nullptr;
    long count = 0;
    ASSERT_EQ(session_.GetReaderList(1, &list, count), 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(count, 2);
    // Five bytes under ASan: any read past them would be reported.
    EXPECT_EQ(std::string(list, 5), "A\0BC\0"s);
    std::free(list);
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

TEST_F(ReaderListTest, FailuresOfTheListingComeBackAsTheyAre)
{
    scripted_reader("A");
    long count = 7;
    char* list = nullptr;
    pcsc().fail(PcscCall::ListReaders, SCARD_E_NO_SERVICE);
    EXPECT_EQ(session_.GetReaderList(0, &list, count), static_cast<long>(SCARD_E_NO_SERVICE));
    pcsc().fail(PcscCall::ListReaders, SCARD_E_NO_MEMORY, 1, 1);
    EXPECT_EQ(session_.GetReaderList(0, &list, count), static_cast<long>(SCARD_E_NO_MEMORY));
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(session_.GetReaderList(0, nullptr, count), OMBRIX_E_INVALID_ARGUMENT);
}

class ManufacturerTest : public PcscTest {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        scripted_reader("R");
        pcsc().reader("R").set_vendor("Ombrix VR"); // 9 bytes
        ASSERT_EQ(session_.InitRM(), 1);
        ASSERT_EQ(session_.Connect("R"), 0);
    }
    ProbeSession session_;
};

TEST_F(ManufacturerTest, TooSmallOrMissingBufferLeavesTheLength)
{
    unsigned char name[64] = {};
    long len = 4;
    EXPECT_EQ(session_.GetManufacturer(name, len), 1);
    EXPECT_EQ(len, 4);
    len = 64;
    EXPECT_EQ(session_.GetManufacturer(nullptr, len), 1);
    EXPECT_EQ(len, 64);
    len = -1;
    EXPECT_EQ(session_.GetManufacturer(name, len), 1);
    EXPECT_EQ(len, -1);
    EXPECT_EQ(name[0], 0);
    EXPECT_EQ(pcsc().outstanding_allocations(), 0); // the attribute was released each time
}

TEST_F(ManufacturerTest, CopiesTheVendorName)
{
    unsigned char name[64] = {};
    long len = 64;
    EXPECT_EQ(session_.GetManufacturer(name, len), 0);
    EXPECT_EQ(len, 9);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name), 9), "Ombrix VR");
    len = 9; // exactly enough
    EXPECT_EQ(session_.GetManufacturer(name, len), 0);
    EXPECT_EQ(pcsc().outstanding_allocations(), 0);
}

TEST_F(ManufacturerTest, PlatformErrorIsReturned)
{
    unsigned char name[64] = {};
    long len = 64;
    pcsc().reader("R").remove();
    EXPECT_EQ(session_.GetManufacturer(name, len), static_cast<long>(SCARD_W_REMOVED_CARD));
    EXPECT_EQ(len, 64);
}

} // namespace
} // namespace ombrix::test
