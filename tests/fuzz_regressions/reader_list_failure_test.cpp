// GetReaderList when the resource manager cannot list its readers: the
// error comes back and `count`, which the caller judges success by, says
// that no name was listed; it used to keep the capacity passed in, so a
// caller walked that many names through a buffer nobody had written.
#include "ombrix/card_session.h"
#include "sim/pcsc/inproc_pcsc.h"

#include "platform/pcsc.h"
#include <gtest/gtest.h>

#include <memory>

namespace {

using ombrix::sim::InprocPcsc;
using ombrix::sim::PcscCall;

class ReaderListFailure : public testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        InprocPcsc::instance().reset();
        InprocPcsc::instance().add_reader("Reader 0", std::make_shared<ombrix::sim::ScriptedCard>());
        ASSERT_EQ(session_.InitRM(), 1);
    }
    void TearDown() override { InprocPcsc::instance().reset(); }

    CCardSession session_;
};

// The size query fails (skip 0) or the read of the names does (skip 1).
TEST_P(ReaderListFailure, ListsNoNameIntoTheCallersBuffer)
{
    InprocPcsc::instance().fail(PcscCall::ListReaders, SCARD_E_NO_SERVICE, 1, GetParam());
    char buffer[64];
    char* list = buffer;
    long count = sizeof buffer; // the capacity
    EXPECT_EQ(session_.GetReaderList(0, &list, count), static_cast<long>(SCARD_E_NO_SERVICE));
    EXPECT_EQ(count, 0);
}

TEST_P(ReaderListFailure, AllocatesNoList)
{
    InprocPcsc::instance().fail(PcscCall::ListReaders, SCARD_E_NO_SERVICE, 1, GetParam());
    char* list = nullptr;
    long count = 3;
    EXPECT_EQ(session_.GetReaderList(1, &list, count), static_cast<long>(SCARD_E_NO_SERVICE));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(list, nullptr);
}

INSTANTIATE_TEST_SUITE_P(SizeQueryOrRead, ReaderListFailure, testing::Values(0, 1));

} // namespace
