// One command after a setup, on a demo card: the status word it answers,
// and a card image it leaves as it was. Malformed APDUs, unknown classes and
// instructions, channels, chaining, secure messaging; then each command's
// own refusals.
#include "tests/cardmodel/card_test_util.h"

#include <vector>

namespace ombrix::sim::testing {
namespace {

using Models = std::vector<Model>;

struct Case {
    Models models;
    std::vector<std::string> setup;    // commands that answer 90 00
    std::vector<std::string> commands; // each on a card fresh from the setup
    std::uint16_t sw;
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.commands.front() << " ...";
}

const Models kR1{Model::R1}, kR2{Model::R2}, kR21{Model::R21}, kR22{Model::R22}, kR23{Model::R23};
const Models kR23v{Model::R23v};
const Models kAll(kAllModels.begin(), kAllModels.end());
const Models kSecond(kAllModels.begin() + 1, kAllModels.end());
const Models kGenerations{Model::R1, Model::R2, Model::R22};

const std::string k5001 = "00 A4 08 00 04 50 00 50 01";
const std::string k5002 = "00 A4 08 00 04 50 00 50 02";
const std::string k5006 = "00 A4 08 00 04 50 00 50 06";
using Setup = std::vector<std::string>;
const Setup kAdmin5000{"80 10 00 00", "00 A4 00 00 02 50 00"};
const Setup kKeyAdmin{"00 A4 08 00 02 50 00", "80 10 00 00"};
std::string create(const std::string& tmpl) { return with_lc("00 E0 00 00", tmpl); }
std::string ef(const char* fid) { return create(std::string("6F 10 81 02 00 10 82 03 01 00 00 83 02 ") + fid + " 86 01 00"); }

const std::vector<Case> kCases = {
    // The APDU's shape: short, inconsistent (Lc 2 and one byte, two bytes too
    // many) or extended commands; all four cases.
    {kR2, {}, {"", "00", "00 A4 00", "00 A4 00 00 02 3F", "00 A4 00 00 02 3F 00 10 10", "00 A4 00 00 00 3F 00"}, 0x6700},
    {kR2, {}, {"00 A4 00 00", "00 CA 01 83 01", "00 A4 00 00 02 3F 00", "00 A4 00 00 02 3F 00 10"}, 0x9000},
    // Classes and instructions of the other generation, or of none: R1 has no
    // chaining, no further channel classes, no GET CHALLENGE, no MANAGE CHANNEL;
    // SELECT is not proprietary, PHASE CONTROL is.
    {kR2, {}, {"B0 10 00 00", "C0 A4 00 00", "FF A4 00 00"}, 0x6E00},
    {kR1, {}, {"80 10 00 00", "01 A4 00 00", "0C B0 00 00", "10 20 00 81 02 31 32", "41 A4 00 00"}, 0x6E00},
    {kR2, {}, {"00 FE 00 00", "80 A4 00 00", "00 10 00 00", "84 08 00 00"}, 0x6D00},
    {kR1, {}, {"B0 B0 00 00", "00 84 00 00 08", "B0 24 00 00 01 00", "00 70 00 00"}, 0x6D00},
    // Closed channels, chaining, secure-messaging families the card does not
    // know (SM bits 01, bits 10 whose header is not authenticated, PHASE
    // CONTROL in a `_4` form) and a protected command without a challenge.
    {kR23, {}, {"01 A4 00 00", "83 10 00 00"}, 0x6881},
    {kR2, {}, {"10 D6 00 00 01 AA"}, 0x6884},
    {kSecond, {}, {"10 B0 00 00 08"}, 0x6884},
    {kR2, {}, {"04 A4 00 00 02 3F 00", "08 A4 00 00 02 3F 00", "84 10 00 00"}, 0x6882},
    {kR2, {}, {"0C B0 00 00 0A 87 09 01 00 00 00 00 00 00 00 00"}, 0x6988},
    // GET DATA (the memory object is the R23's), PHASE CONTROL, DELETE FILE in phase 10.
    {kAll, {}, {"00 CA 01 99", "00 CA 02 81"}, 0x6A88},
    {kAll, {}, {"00 CA 01 81 01 00"}, 0x6700},
    {kR1, {}, {"00 CA 01 88 80"}, 0x6A88},
    {{Model::R1, Model::R2, Model::R21, Model::R21v, Model::R22}, {}, {"00 CA 01 89 06"}, 0x6A88},
    {kR2, {}, {"80 10 00 01"}, 0x6A86},
    {kR2, {}, {"80 10 00 00 01 00"}, 0x6700},
    {kR2, {}, {"00 E4 00 00 02 00 01"}, 0x6985},
    // SELECT FILE: modes and P2 the card does not know; wrong lengths.
    {kR2, {}, {"00 A4 05 00 02 3F 00", "00 A4 06 00 02 3F 00", "00 A4 07 00 02 3F 00", "00 A4 0A 00 02 3F 00",
               "00 A4 FF 00 02 3F 00", "00 A4 00 01 02 3F 00"}, 0x6A86},
    {kR2, {}, {"00 A4 00 00 03 3F 00 00", "00 A4 04 00 11" + rep("00", 17), "00 A4 08 00 03 50 00 50"}, 0x6700},
    {kR2, {k5001}, {"00 A4 03 00 02 50 00"}, 0x6700},
    {kR21, {}, {"00 A4 01 00 01 50"}, 0x6700},
    {kR22, {}, {"00 A4 09 00"}, 0x6700},
    // Files not found: 5000 is no EF, 0001 no DF, the MF has no parent, no
    // such name, no such path, a path through an EF, 5000 not below 5000,
    // 5001 not a child of 6000, 5001 not in 6000.
    {kR21, {}, {"00 A4 02 00 02 50 00", "00 A4 01 00 02 00 01"}, 0x6A82},
    {kR2, {}, {"00 A4 03 00", "00 A4 08 00 04 60 00 50 01", "00 A4 08 00 04 00 01 50 01"}, 0x6A82},
    {kR23, {}, {"00 A4 04 00 02 A0 01"}, 0x6A82},
    {kR22, {"00 A4 09 00 02 50 00"}, {"00 A4 09 00 02 50 00"}, 0x6A82},
    {kR2, {"00 A4 00 00 02 60 00"}, {"00 A4 00 00 02 50 01"}, 0x6A82},
    {kR23, {"00 A4 04 00 08 A0 00 00 00 4F 4D 42 02"}, {"00 A4 02 00 02 50 01"}, 0x6A82},
    // READ BINARY and UPDATE BINARY: offsets at or past the end (600, 128),
    // an update across it, data where none goes and none where it does, no
    // current EF, a record EF, access conditions (reference 01, never,
    // secure messaging).
    {kR2, {k5006}, {"00 B0 02 58 70", "00 B0 02 59 70", "00 B0 FF FF 01"}, 0x6A86},
    {kR1, {"00 A4 08 00 06 3F 00 50 00 50 06"}, {"00 B0 02 58 FF"}, 0x6A86},
    {kR2, {k5001}, {"00 D6 00 80 01 00"}, 0x6A86},
    {kR2, {k5001}, {"00 D6 00 7F 02 00 00"}, 0x6A84},
    {kR2, {k5001}, {"00 B0 00 00 01 00 10", "00 D6 00 00"}, 0x6700},
    {kR2, {}, {"00 B0 00 00 10", "00 D6 00 00 01 00"}, 0x6986},
    {kR2, {k5002}, {"00 B0 00 00 10", "00 D6 00 00 01 00"}, 0x6981},
    {kGenerations, {"00 A4 08 00 04 50 00 50 04"}, {"00 B0 00 00 10", "00 D6 00 00 01 00"}, 0x6982},
    {kGenerations, {"00 A4 08 00 04 50 00 50 05"}, {"00 B0 00 00 10"}, 0x6985},
    {kSecond, {"00 A4 08 00 04 50 00 50 07"}, {"00 B0 00 00 02", "00 D6 00 00 01 AA"}, 0x6982},
    // READ, UPDATE and APPEND RECORD: no such record, record number 00, P2 0C,
    // P1 of APPEND; wrong lengths (records of 8 in 5003); no record EF.
    {kGenerations, {k5002}, {"00 B2 04 04 90", "00 DC 05 04 01 00"}, 0x6A83},
    {kGenerations, {k5002}, {"00 B2 00 04 90", "00 B2 01 0C 90", "00 E2 01 00 01 00"}, 0x6A86},
    {kGenerations, {k5002}, {"00 B2 01 04 01 00", "00 DC 01 04", "00 E2 00 00"}, 0x6700},
    {kGenerations, {"00 A4 08 00 04 50 00 50 03"},
     {"00 DC 01 04 07 01 02 03 04 05 06 07", "00 E2 00 00 09 01 02 03 04 05 06 07 08 09"}, 0x6700},
    {kGenerations, {k5001}, {"00 B2 01 04 90", "00 E2 00 00 01 00"}, 0x6981},
    {kGenerations, {"00 A4 00 00 02 50 00"}, {"00 B2 01 04 90"}, 0x6986},
    // CREATE FILE: identifiers taken (a file's, the DF's own, the MF's), a DF
    // name taken, 64 KB, P2 01, no data. DELETE FILE: the MF, wrong lengths,
    // P1 01, not a file of the current DF.
    {kR2, kAdmin5000, {ef("50 01"), ef("50 00"), ef("3F 00")}, 0x6A89},
    {kR2, kAdmin5000, {create("6F 13 82 03 38 00 00 83 02 51 00 84 08 A0 00 00 00 4F 4D 42 02")}, 0x6A8A},
    {kR2, kAdmin5000, {create("6F 10 81 02 FF FF 82 03 01 00 00 83 02 51 01 86 01 00")}, 0x6A84},
    {kR2, kAdmin5000, {"00 E0 00 01 12 6F 10 81 02 00 10 82 03 01 00 00 83 02 51 01 86 01 00"}, 0x6A86},
    {kR2, kAdmin5000, {"00 E0 00 00"}, 0x6700},
    {kR1, {"B0 10 00 00"}, {"00 E4 00 00 02 3F 00"}, 0x6985},
    {kR1, {"B0 10 00 00"}, {"00 E4 00 00 01 50", "00 E4 00 00"}, 0x6700},
    {kR1, {"B0 10 00 00"}, {"00 E4 01 00 02 50 00"}, 0x6A86},
    {kR1, {"B0 10 00 00"}, {"00 E4 00 00 02 50 01"}, 0x6A82},
    // GET CHALLENGE, EXTERNAL AUTHENTICATE, MSE; GENERATE KEY PAIR in phase
    // 10, with a two-byte exponent, for no file, a file too small, a bad size.
    {kSecond, {}, {"00 84 00 00", "00 82 00 84 04 00000000"}, 0x6700},
    {kSecond, {}, {"00 84 01 00 08", "00 22 F1 A4 03 83 01 05"}, 0x6A86},
    {kSecond, {}, {"00 82 00 89 08 0000000000000000", "00 22 F3 10", "00 22 F1 B6 03 83 01 09"}, 0x6A88},
    {kSecond, {}, {"00 22 F1 B6 04 83 02 00 05"}, 0x6A80},
    {kSecond, {"00 A4 08 00 02 50 00"}, {"00 46 00 00 0D 20 06 50 09 00 00 00 18 04 00 01 00 01"}, 0x6985},
    {kSecond, kKeyAdmin, {"00 46 00 00 0C 20 06 50 09 00 00 00 18 03 00 01 01"}, 0x6984},
    {kSecond, kKeyAdmin, {"00 46 00 00 08 20 06 50 0F 00 00 00 18"}, 0x6A82},
    {kSecond, kKeyAdmin, {"00 46 00 00 08 20 07 50 01 00 00 00 18"}, 0x6A84},
    {kSecond, kKeyAdmin, {"00 46 00 00 08 20 06 50 09 00 00 00 19"}, 0x6A80},
    // The first generation's triple DES: no key set, no such key, a key of
    // another type, P1 F1; then an indicator not 01, not whole blocks.
    {kR1, {}, {"00 2A 86 80 10 " + text("first generation")}, 0x6985},
    {kR1, {}, {"00 22 41 B8 04 83 02 08 09"}, 0x6A88},
    {kR1, {}, {"00 22 41 B8 04 83 02 07 04"}, 0x6A80},
    {kR1, {}, {"00 22 F1 B8 04 83 02 08 04"}, 0x6A86},
    {kR1, {"00 22 41 B8 04 83 02 08 04"}, {"00 2A 80 86 09 02" + rep("00", 8)}, 0x6A80},
    {kR1, {"00 22 41 B8 04 83 02 08 04"}, {"00 2A 80 86 06 01 0102030405"}, 0x6700},
    // MANAGE CHANNEL: channels the card does not have (8, 19), one no class
    // byte carries (20), closing one not open, the basic channel, P1 40, data,
    // chaining, opening one open.
    {kR2, {}, {"00 70 00 08", "00 70 00 13"}, 0x6881},
    {kR2, {}, {"00 70 00 14"}, 0x6A81},
    {kR2, {}, {"00 70 80 02", "00 70 80 09"}, 0x6A88},
    {kR2, {}, {"00 70 80 00", "00 70 40 00"}, 0x6A86},
    {kR2, {}, {"00 70 00 00 01 02"}, 0x6700},
    {kR2, {}, {"10 70 00 00"}, 0x6884},
    {kR2, {"00 70 00 01"}, {"00 70 00 01"}, 0x6A81},
    // Channel 5 open, the further classes: channels 4 (not open), 8 (not on
    // this card), 19, and 1; b5 chaining; b6 secure messaging (read plainly,
    // the data would be a wrong length).
    {kR23v, {"00 70 00 05"}, {"40 A4 00 00", "44 A4 00 00", "4F A4 00 00", "01 B0 00 00 02"}, 0x6881},
    {kR23v, {"00 70 00 05"}, {"51 D6 00 00 01 AA"}, 0x6884},
    {kR23v, {"00 70 00 05"}, {"61 B0 00 00 0A 87 09 01 00 00 00 00 00 00 00 00"}, 0x6988},
};

class StatusWords : public ::testing::TestWithParam<Case> {};

TEST_P(StatusWords, AnswersItsStatusAndChangesNothing)
{
    const Case& c = GetParam();
    for (const Model m : c.models) {
        for (const std::string& command : c.commands) {
            SCOPED_TRACE(std::string(model_name(m)) + ": " + command);
            auto card = demo(m);
            for (const std::string& step : c.setup)
                ASSERT_EQ(sw(*card, step), 0x9000) << step;
            const auto before = card->to_json();
            EXPECT_EQ(sw(*card, command), c.sw);
            EXPECT_EQ(card->to_json(), before);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, StatusWords, ::testing::ValuesIn(kCases));

} // namespace
} // namespace ombrix::sim::testing
