// The card database file and the card-name filter built from it.
#include "platform/card_db.h"
#include "session/card_filter.h"
#include "sim/card/ombrix_card.h"

#include <gtest/gtest.h>

#include <string>

namespace ombrix::test {
namespace {

using platform::CardType;
using platform::parse_card_database;
using namespace std::string_literals;

TEST(CardDatabaseTest, ReadsSectionsKeysAndValuesLeniently)
{
    const auto types = parse_card_database(
        "# comment\n"
        "; another\n"
        "ATR = 3B 00\n" // outside a section: ignored
        "[ First ]\n"
        "  atr=3b:8f:80 01  \n"
        "CRYPTO PROVIDER =  QV_CSP \r\n"
        "Colour = blue\n"
        "no equals sign here\n"
        "[Second\n" // broken header: its values go nowhere
        "ATR = 3B 01\n"
        "[Third]\n"
        "ATR = 3B 02 03\n"
        "ATRMask = FF 00 FF\n"
        "Crypto Provider = Other CSP\n");
    ASSERT_EQ(types.size(), 2u);
    EXPECT_EQ(types[0].name, "First");
    EXPECT_EQ(types[0].atr, (std::vector<std::uint8_t>{0x3B, 0x8F, 0x80, 0x01}));
    EXPECT_EQ(types[0].mask, std::vector<std::uint8_t>(4, 0xFF));
    EXPECT_EQ(types[0].provider, "QV_CSP");
    EXPECT_EQ(types[1].name, "Third");
    EXPECT_EQ(types[1].mask, (std::vector<std::uint8_t>{0xFF, 0x00, 0xFF}));
    EXPECT_EQ(types[1].provider, "Other CSP");
}

TEST(CardDatabaseTest, AtrMatchesUnderTheMaskOnly)
{
    const auto types = parse_card_database("[T]\nATR = 3B 02 03\nATRMask = FF 00 FF\n"
                                           "[Odd]\nATR = 3B 0\n"
                                           "[Short mask]\nATR = 3B 02\nATRMask = FF\n");
    ASSERT_EQ(types.size(), 3u);
    const std::vector<std::uint8_t> same_under_mask{0x3B, 0x7E, 0x03};
    const std::vector<std::uint8_t> differs{0x3B, 0x02, 0x04};
    const std::vector<std::uint8_t> longer{0x3B, 0x02, 0x03, 0x00};
    EXPECT_TRUE(types[0].matches(same_under_mask));
    EXPECT_FALSE(types[0].matches(differs));
    EXPECT_FALSE(types[0].matches(longer));
    // An ATR or mask that cannot be read makes a type that matches nothing.
    EXPECT_FALSE(types[1].matches(std::vector<std::uint8_t>{0x3B, 0x00}));
    EXPECT_FALSE(types[2].matches(std::vector<std::uint8_t>{0x3B, 0x02}));
}

TEST(CardDatabaseTest, OverlongNamesAndValuesAreLeftOut)
{
    const std::string long_name(platform::kCardDbMaxText + 1, 'n');
    const std::string long_value(platform::kCardDbMaxText + 1, 'v');
    const auto types = parse_card_database("[" + long_name + "]\nATR = 3B\n[Ok]\nCrypto Provider = " +
                                           long_value + "\n");
    ASSERT_EQ(types.size(), 1u);
    EXPECT_EQ(types[0].name, "Ok");
    EXPECT_EQ(types[0].provider, "");
}

TEST(CardFilterTest, NamesTheTypesOfTheProviderOnly)
{
    const auto types = parse_card_database("[R21]\nCrypto Provider = QV_CSP\n"
                                           "[Foreign]\nCrypto Provider = Microsoft Base\n"
                                           "[R22]\nCrypto Provider = QV_CSP\n"
                                           "[Longer]\nCrypto Provider = QV_CSP2\n"
                                           "[None]\n");
    const std::string filter = session::card_name_filter(types);
    EXPECT_EQ(filter, "R21\0R22\0\0"s);
    EXPECT_EQ(filter.size() - 1, 8u); // the length the dialog is given
    EXPECT_EQ(session::card_name_filter(parse_card_database("[X]\nCrypto Provider = Y\n")), "");
}

TEST(CardDatabaseTest, ShippedDatabaseKnowsEveryVirtualCardModel)
{
    const auto types = platform::read_card_database(OMBRIX_DEFAULT_CARD_DB);
    ASSERT_TRUE(types.has_value());
    EXPECT_EQ(session::card_name_filter(*types), "R1\0R2\0R21\0R21v\0R22\0R23\0R23v\0\0"s);
    for (sim::Model model : sim::kAllModels) {
        const auto card = sim::OmbrixCard::builtin(model, "blank");
        ASSERT_NE(card, nullptr);
        const sim::Bytes atr = card->atr();
        int matching = 0;
        for (const CardType& type : *types) {
            if (type.matches(atr)) {
                ++matching;
                EXPECT_EQ(type.name, sim::model_name(model));
            }
        }
        EXPECT_EQ(matching, 1) << sim::model_name(model);
    }
}

} // namespace
} // namespace ombrix::test
