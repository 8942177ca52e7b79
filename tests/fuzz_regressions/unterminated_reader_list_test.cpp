// A reader list without its closing zero bytes (a resource manager that
// sends fewer bytes than the multi-string needs): the walks over the names
// of GetReaderList, Connect with no name and the selection dialog stop at
// the end of what was written. They used to end the list with one zero
// byte, so the walk stepped past it and read beyond the buffer.
#include "ombrix/card_session.h"
#include "platform/pcsc.h"
#include "sim/pcsc/inproc_pcsc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

using ombrix::sim::InprocPcsc;

std::string g_list; // what SCardListReaders answers, exactly these bytes

LONG list_without_terminator(SCARDCONTEXT, LPCSTR, LPSTR buffer, LPDWORD length)
{
    const DWORD size = static_cast<DWORD>(g_list.size());
    if (buffer != nullptr) {
        if (*length < size)
            return SCARD_E_INSUFFICIENT_BUFFER;
        std::memcpy(buffer, g_list.data(), size);
    }
    *length = size;
    return SCARD_S_SUCCESS;
}

class UnterminatedReaderList : public testing::Test {
protected:
    void SetUp() override
    {
        InprocPcsc::instance().reset();
        InprocPcsc::instance().add_reader("Reader 0", std::make_shared<ombrix::sim::ScriptedCard>());
        table_ = ombrix::sim::inproc_pcsc_api();
        table_.ListReadersA = list_without_terminator;
        ombrix::platform::use_pcsc(&table_);
        ASSERT_EQ(session_.InitRM(), 1);
    }
    void TearDown() override
    {
        ombrix::platform::use_pcsc(nullptr);
        InprocPcsc::instance().reset();
    }

    ombrix::platform::PcscApi table_{};
    CCardSession session_;
};

TEST_F(UnterminatedReaderList, GetReaderListListsTheNamesWritten)
{
    g_list = std::string("Gone\0Reader 0", 13);
    char* list = nullptr;
    long count = 0;
    EXPECT_EQ(session_.GetReaderList(1, &list, count), 0);
    ASSERT_EQ(count, 1);
    EXPECT_STREQ(list, "Reader 0");
    std::free(list);
}

TEST_F(UnterminatedReaderList, ConnectTriesEachNameOnce)
{
    g_list = std::string("Gone\0Away", 9);
    EXPECT_EQ(session_.Connect(nullptr), static_cast<long>(SCARD_E_UNKNOWN_READER));
    EXPECT_EQ(session_.GetReaderName(), nullptr);
    EXPECT_EQ(InprocPcsc::instance().calls(ombrix::sim::PcscCall::Connect), 2);
}

TEST_F(UnterminatedReaderList, DialogOffersTheNameWritten)
{
    ::setenv("OMBRIX_CARD_DB", "/nonexistent/ombrix-card-database", 1);
    g_list = "Reader 0";
    char buffer[256] = {};
    char* reader = buffer;
    long length = 0;
    EXPECT_EQ(CCardSession::SmartCardDialog(&reader, &length, 1), 1);
    EXPECT_STREQ(buffer, "Reader 0");
    EXPECT_EQ(length, 9);
    ::unsetenv("OMBRIX_CARD_DB");
}

} // namespace
