// A card link that answers from a list, for the tool's logic on its own.
#pragma once

#include "tools/ombrix/card_link.h"
#include "tools/ombrix/hex.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace ombrix::cli::test {

inline bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// EXPECT_HAS(text, part): the text holds the part; on failure, the whole text.
inline ::testing::AssertionResult holds(const char* text_expr, const char* part_expr,
                                        const std::string& text, const std::string& part)
{
    if (contains(text, part))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << text_expr << " lacks \"" << part << "\" (" << part_expr
                                         << "); it is:\n" << text;
}
inline ::testing::AssertionResult lacks(const char* text_expr, const char* part_expr,
                                        const std::string& text, const std::string& part)
{
    if (!contains(text, part))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << text_expr << " holds \"" << part << "\" (" << part_expr
                                         << "); it is:\n" << text;
}
#define EXPECT_HAS(text, part) EXPECT_PRED_FORMAT2(::ombrix::cli::test::holds, text, part)
#define EXPECT_LACKS(text, part) EXPECT_PRED_FORMAT2(::ombrix::cli::test::lacks, text, part)

inline Bytes hex(std::string_view text)
{
    const HexParse parse = parse_hex(text);
    EXPECT_TRUE(parse.ok()) << text;
    return parse.bytes;
}

// Each transmit takes the next answer: "C8 02 90 00" (data and status word),
// or a failure code. Every command is recorded as hex.
class FakeLink final : public CardLink {
public:
    struct Reply {
        long result = 0;
        Bytes response; // data + SW1 SW2
    };

    FakeLink& answer(std::string_view response_hex)
    {
        replies_.push_back({0, hex(response_hex)});
        return *this;
    }
    FakeLink& fail(long result)
    {
        replies_.push_back({result, {}});
        return *this;
    }

    long transmit(CommandApdu& command, Answer& answer) override
    {
        sent.push_back(format_hex(command.bytes, HexStyle::packed));
        if (replies_.empty()) {
            ADD_FAILURE() << "unexpected command " << sent.back();
            return 0x80100069; // as if the card had gone
        }
        const Reply reply = replies_.front();
        replies_.pop_front();
        if (reply.result != 0)
            return reply.result;
        const std::size_t n = reply.response.size();
        answer.data.assign(reply.response.begin(), reply.response.end() - 2);
        answer.sw = static_cast<std::uint16_t>(reply.response[n - 2] << 8 | reply.response[n - 1]);
        return 0;
    }

    long reset() override
    {
        sent.push_back("reset");
        return reset_result;
    }

    bool used_up() const { return replies_.empty(); }

    std::vector<std::string> sent;
    long reset_result = 0;

private:
    std::deque<Reply> replies_;
};

} // namespace ombrix::cli::test
