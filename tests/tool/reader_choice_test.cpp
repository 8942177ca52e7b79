// The reader-choice rules every subcommand shares.
#include "tools/ombrix/reader_choice.h"

#include <gtest/gtest.h>

namespace ombrix::cli {
namespace {

using Outcome = ReaderChoice::Outcome;
using Readers = std::vector<ReaderEntry>;

const Readers kReaders = {
    {"Virtual PCD 00 00", true},
    {"Virtual PCD 00 01", false},
    {"ACS ACR39U ICC Reader 00 00", true},
};
const Readers kOneCard = {{"A", false}, {"B", true}, {"C", false}};

struct Choice {
    std::optional<std::string> option; // -r
    const char* env;                   // OMBRIX_READER
    Readers readers;
    Outcome outcome;
    std::size_t index;                   // when chosen
    std::vector<std::size_t> candidates; // when ambiguous
    const char* source = "";             // when chosen: "-r" or "OMBRIX_READER", "" to skip
    const char* failure = "";            // a part of describe_failure
};

class ReaderChoiceTable : public ::testing::TestWithParam<Choice> {};

TEST_P(ReaderChoiceTable, ChoosesOrSaysWhyNot)
{
    const Choice& c = GetParam();
    const ReaderChoice choice = choose_reader(c.readers, c.option, c.env);
    const std::string what = c.option.value_or("(none)") + " / " + (c.env ? c.env : "(unset)");
    ASSERT_EQ(choice.outcome, c.outcome) << what;
    EXPECT_TRUE(c.outcome != Outcome::chosen || choice.index == c.index) << what << ": " << choice.index;
    EXPECT_TRUE(c.outcome != Outcome::ambiguous || choice.candidates == c.candidates) << what;
    EXPECT_TRUE(!*c.source || choice.source == c.source) << what << ": " << choice.source;
    const std::string failure = c.outcome == Outcome::chosen ? "" : describe_failure(choice, c.readers);
    EXPECT_NE(failure.find(c.failure), std::string::npos) << what << ": " << failure;
}

INSTANTIATE_TEST_SUITE_P(Rules, ReaderChoiceTable, ::testing::Values(
    // An index counts from zero; an empty reader can be chosen (connecting says "no card").
    Choice{"0", nullptr, kReaders, Outcome::chosen, 0, {}},
    Choice{"1", nullptr, kReaders, Outcome::chosen, 1, {}},
    Choice{"3", nullptr, kReaders, Outcome::no_match, 0, {}, "", "0 to 2"},
    // A part of the name, in any case; fitting several is ambiguous.
    Choice{"acr39", nullptr, kReaders, Outcome::chosen, 2, {}},
    Choice{"pcd 00 01", nullptr, kReaders, Outcome::chosen, 1, {}},
    Choice{"virtual", nullptr, kReaders, Outcome::ambiguous, 0, {0, 1}, "", "matches 2 readers"},
    Choice{"gemalto", nullptr, kReaders, Outcome::no_match, 0, {}},
    // The exact name after '=': case and completeness count.
    Choice{"=Virtual PCD 00 01", nullptr, kReaders, Outcome::chosen, 1, {}},
    Choice{"=virtual pcd 00 01", nullptr, kReaders, Outcome::no_match, 0, {}},
    Choice{"=Virtual PCD 00", nullptr, kReaders, Outcome::no_match, 0, {}},
    // The variable gives the default, the option wins, an empty variable counts as unset.
    Choice{std::nullopt, "acs", kReaders, Outcome::chosen, 2, {}, "OMBRIX_READER"},
    Choice{"1", "acs", kReaders, Outcome::chosen, 1, {}, "-r"},
    Choice{std::nullopt, "", {{"A", false}, {"B", true}}, Outcome::chosen, 1, {}},
    // Without a choice: the only reader holding a card.
    Choice{std::nullopt, nullptr, kOneCard, Outcome::chosen, 1, {}},
    Choice{std::nullopt, nullptr, kReaders, Outcome::ambiguous, 0, {0, 2}},
    Choice{std::nullopt, nullptr, {{"A", false}}, Outcome::no_card, 0, {}},
    Choice{std::nullopt, nullptr, {}, Outcome::no_readers, 0, {}},
    Choice{"0", nullptr, {}, Outcome::no_readers, 0, {}}));

TEST(ReaderChoice, CandidatesAreListedWithTheirCards)
{
    const auto virt = choose_reader(kReaders, "virtual", nullptr);
    EXPECT_EQ(list_candidates(kReaders, virt.candidates),
              "  0  Virtual PCD 00 00  (card)\n  1  Virtual PCD 00 01  (empty)\n");
    // The whole sentence when nothing matches.
    EXPECT_EQ(describe_failure(choose_reader(kReaders, "gemalto", nullptr), kReaders),
              "\"gemalto\" (-r) matches no reader");
}

} // namespace
} // namespace ombrix::cli
