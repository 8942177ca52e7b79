// The reader-choice rules every subcommand shares.
#include "tools/ombrix/reader_choice.h"

#include <gtest/gtest.h>

namespace ombrix::cli {
namespace {

using Outcome = ReaderChoice::Outcome;

const std::vector<ReaderEntry> kReaders = {
    {"Virtual PCD 00 00", true},
    {"Virtual PCD 00 01", false},
    {"ACS ACR39U ICC Reader 00 00", true},
};

ReaderChoice choose(const std::optional<std::string>& option, const char* env = nullptr,
                    const std::vector<ReaderEntry>& readers = kReaders)
{
    return choose_reader(readers, option, env);
}

TEST(ReaderChoice, IndexCountsFromZeroAndIgnoresCards)
{
    EXPECT_EQ(choose("0").index, 0u);
    const auto empty = choose("1");
    EXPECT_EQ(empty.outcome, Outcome::chosen);
    EXPECT_EQ(empty.index, 1u); // an empty reader can be chosen; connecting says "no card"
    const auto past = choose("3");
    EXPECT_EQ(past.outcome, Outcome::no_match);
    EXPECT_NE(describe_failure(past, kReaders).find("0 to 2"), std::string::npos);
}

TEST(ReaderChoice, SubstringInAnyCase)
{
    const auto acs = choose("acr39");
    EXPECT_EQ(acs.outcome, Outcome::chosen);
    EXPECT_EQ(acs.index, 2u);
    EXPECT_EQ(choose("pcd 00 01").index, 1u);
}

TEST(ReaderChoice, SubstringFittingSeveralIsAmbiguousWithCandidates)
{
    const auto virt = choose("virtual");
    EXPECT_EQ(virt.outcome, Outcome::ambiguous);
    EXPECT_EQ(virt.candidates, (std::vector<std::size_t>{0, 1}));
    const std::string list = list_candidates(kReaders, virt.candidates);
    EXPECT_EQ(list, "  0  Virtual PCD 00 00  (card)\n  1  Virtual PCD 00 01  (empty)\n");
    EXPECT_NE(describe_failure(virt, kReaders).find("matches 2 readers"), std::string::npos);
}

TEST(ReaderChoice, ExactNameAfterEqualsSign)
{
    EXPECT_EQ(choose("=Virtual PCD 00 01").index, 1u);
    // Exact means exact: case and completeness count.
    EXPECT_EQ(choose("=virtual pcd 00 01").outcome, Outcome::no_match);
    EXPECT_EQ(choose("=Virtual PCD 00").outcome, Outcome::no_match);
}

TEST(ReaderChoice, NothingMatches)
{
    const auto none = choose("gemalto");
    EXPECT_EQ(none.outcome, Outcome::no_match);
    EXPECT_EQ(describe_failure(none, kReaders), "\"gemalto\" (-r) matches no reader");
}

TEST(ReaderChoice, EnvironmentGivesTheDefaultAndTheOptionWins)
{
    const auto from_env = choose(std::nullopt, "acs");
    EXPECT_EQ(from_env.index, 2u);
    EXPECT_EQ(from_env.source, "OMBRIX_READER");
    const auto both = choose("1", "acs");
    EXPECT_EQ(both.index, 1u);
    EXPECT_EQ(both.source, "-r");
    // An empty variable counts as unset.
    EXPECT_EQ(choose(std::nullopt, "", {{"A", false}, {"B", true}}).index, 1u);
}

TEST(ReaderChoice, WithoutAChoiceTheOnlyReaderHoldingACard)
{
    const std::vector<ReaderEntry> one_card = {{"A", false}, {"B", true}, {"C", false}};
    EXPECT_EQ(choose(std::nullopt, nullptr, one_card).index, 1u);

    const auto two = choose(std::nullopt, nullptr, kReaders);
    EXPECT_EQ(two.outcome, Outcome::ambiguous);
    EXPECT_EQ(two.candidates, (std::vector<std::size_t>{0, 2}));

    const auto none = choose(std::nullopt, nullptr, {{"A", false}});
    EXPECT_EQ(none.outcome, Outcome::no_card);
    EXPECT_EQ(choose(std::nullopt, nullptr, {}).outcome, Outcome::no_readers);
    EXPECT_EQ(choose("0", nullptr, {}).outcome, Outcome::no_readers);
}

} // namespace
} // namespace ombrix::cli
