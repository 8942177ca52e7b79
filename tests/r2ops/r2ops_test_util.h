// A COmbrixR2 connected to a scripted card, with the bridge's exchanges
// scripted the way the card answers them.
#pragma once

#include "ombrix/ombrix_r2.h"
#include "tests/sm/bridge_util.h"

namespace ombrix::test {

class R2Test : public PcscTest {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        card_ = scripted_reader("R");
        ASSERT_EQ(r2_.InitRM(), 1);
        ASSERT_EQ(r2_.Connect("R"), 0);
    }

    // The bridge before one protected command: the key derivation the first
    // time, a challenge every time.
    void expect_bridge()
    {
        if (!key_derived_)
            card_->expect(kGetId, std::string(kId) + "9000");
        key_derived_ = true;
        card_->expect(kGetChallenge, std::string(kChallenge) + "9000");
    }

    static std::string unwrapped_hex(const std::string& command_hex) { return unwrap_c(hex(command_hex)); }

    std::shared_ptr<ScriptedCard> card_;
    COmbrixR2 r2_;
    SMFLAGS both_{1, 1};
    bool key_derived_ = false;
};

} // namespace ombrix::test
