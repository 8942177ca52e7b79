// A COmbrixR1 connected to a scripted card, and byte helpers for its scripts.
#pragma once

#include "ombrix/ombrix_r1.h"
#include "ombrix/status.h"
#include "tests/support/pcsc_fixture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ombrix::test {

// n bytes counting up from `first`: each chunk of a transfer is recognisable.
inline Bytes pattern(std::size_t n, std::uint8_t first = 0)
{
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(first + i);
    return out;
}

inline Bytes slice(const Bytes& bytes, std::size_t from, std::size_t n)
{
    return Bytes(bytes.begin() + static_cast<long>(from),
                 bytes.begin() + static_cast<long>(from + n));
}

// An answer: data followed by the status word.
inline std::string answer_hex(const Bytes& data, const char* sw = "9000")
{
    return to_hex(data) + sw;
}

class R1Test : public PcscTest {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        card_ = scripted_reader("R1 Reader");
        ASSERT_EQ(r1_.InitRM(), 1);
        ASSERT_EQ(r1_.Connect("R1 Reader"), 0);
    }

    std::shared_ptr<ScriptedCard> card_;
    COmbrixR1 r1_;
};

} // namespace ombrix::test
