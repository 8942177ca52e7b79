// A COmbrixR2 connected to a scripted card in reader "R".
#pragma once

#include "ombrix/ombrix_r2.h"
#include "ombrix/status.h"
#include "tests/support/pcsc_fixture.h"

#include <gtest/gtest.h>

#include <string>

namespace ombrix::test {

class R2CardTest : public PcscTest {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        card_ = scripted_reader("R");
        ASSERT_EQ(r2_.InitRM(), 1);
        ASSERT_EQ(r2_.Connect("R"), 0);
    }

    unsigned char channel()
    {
        unsigned char c = 0xEE;
        r2_.Get_ChannelUsed(c);
        return c;
    }

    std::shared_ptr<ScriptedCard> card_;
    COmbrixR2 r2_;
};

} // namespace ombrix::test
