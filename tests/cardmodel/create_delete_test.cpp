// CREATE FILE with the templates the library sends (Parts 4.3, 4.5, 5.1,
// 6.2), malformed templates, and DELETE FILE.
#include "tests/cardmodel/card_test_util.h"

#include <cctype>
#include <cstdio>

namespace ombrix::sim::testing {
namespace {

std::string rep(const char* byte, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += std::string(" ") + byte;
    return out;
}

std::string create(const std::string& tmpl)
{
    const Bytes data = hex(tmpl);
    char lc[4];
    std::snprintf(lc, sizeof lc, "%02X", static_cast<unsigned>(data.size()));
    return std::string("00 E0 00 00 ") + lc + " " + tmpl;
}

// The library's Create_EF(0x0020, {12 34}, t_FILE 1, NULL, NULL, NULL).
const std::string kR2Ef = "6F 37 81 02 00 20 82 03 01 00 00 83 02 12 34 85 03 01 00 20 "
                          "86 09 00 00 00 FF FF 00 00 FF FF 8B 18" + rep("FF", 24);
// The library's Create_DF(0x0400, {51 00}, NULL, NULL, NULL).
const std::string kR2Df = "6F 37 81 02 FF FF 82 03 38 00 00 83 02 51 00 85 03 01 04 00 86 09" + rep("00", 9) +
                          " 8B 18" + rep("FF", 24);

std::unique_ptr<OmbrixCard> admin(Model model)
{
    auto card = demo(model);
    EXPECT_EQ(sw(*card, model == Model::R1 ? "B0 10 00 00" : "80 10 00 00"), 0x9000);
    return card;
}

TEST(Create, SecondGenerationEfAndDf)
{
    auto card = admin(Model::R2);
    EXPECT_EQ(sw(*card, create(kR2Ef)), 0x9000);
    ASSERT_TRUE(card->file_exists({0x1234}));
    EXPECT_EQ(card->file_data({0x1234})->size(), 0x20u);
    // The created EF is the current file: the host writes it at once.
    EXPECT_EQ(sw(*card, "00 D6 00 00 02 CA FE 70"), 0x9000);
    EXPECT_EQ((*card->file_data({0x1234}))[1], 0xFE);
    const Answer fcp = send(*card, "00 A4 00 00 02 12 34 00");
    EXPECT_EQ(to_hex(Bytes(fcp.data.begin(), fcp.data.begin() + 6)), "62 37 80 02 00 20");

    EXPECT_EQ(sw(*card, create(kR2Df)), 0x9000);
    ASSERT_TRUE(card->file_exists({0x5100}));
    const Answer df = send(*card, "00 A4 00 00 02 51 00 10");
    EXPECT_EQ(to_hex(Bytes(df.data.begin() + 2, df.data.begin() + 6)), "81 02 04 00"); // the 85 size
    // The new DF is current: an EF created now goes into it.
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 51 00"), 0x9000);
    EXPECT_EQ(sw(*card, create("6F 10 81 02 00 10 82 03 04 00 00 83 02 51 01 86 01 00")), 0x9000);
    EXPECT_TRUE(card->file_exists({0x5100, 0x5101}));
}

TEST(Create, PackageTemplatesOfTheInstallationScripts)
{
    auto card = admin(Model::R21);
    EXPECT_EQ(sw(*card, "00 A4 00 00"), 0x9000);
    // The demo card's own package files go first.
    EXPECT_EQ(sw(*card, "00 E4 00 00 02 CF 07"), 0x9000);
    EXPECT_EQ(sw(*card, "00 E4 00 00 02 CF 08"), 0x9000);
    EXPECT_EQ(sw(*card, create("6F 1D 81 02 02 D7 82 03 21 00 00 83 02 CF 08 85 03 00 00 00 "
                               "86 09 FF 00 FF FF FF 00 FF FF FF")),
              0x9000);
    EXPECT_EQ(sw(*card, "00 D6 02 D0 07 01 02 03 04 05 06 07"), 0x9000);
    EXPECT_EQ(sw(*card, "00 B0 00 00 10"), 0x6985); // executable images are not readable
    EXPECT_EQ(sw(*card, create("6F 1A 81 02 11 07 82 03 21 00 00 83 02 CF 07 85 03 00 00 00 "
                               "86 06 FF 00 00 00 00 00")),
              0x9000);
    EXPECT_EQ(card->file_data({0xCF07})->size(), 0x1107u);
    EXPECT_EQ(sw(*card, create("6F 1A 81 02 11 07 82 03 21 00 00 83 02 CF 07 85 03 00 00 00 "
                               "86 06 FF 00 00 00 00 00")),
              0x6A89);
}

TEST(Create, R22Templates)
{
    auto card = admin(Model::R22);
    // COmbrixR22::Create_DF(0x0400, {51 00}, NULL, NULL, NULL).
    EXPECT_EQ(sw(*card, create("62 36 81 02 04 00 82 01 38 83 02 51 00 85 03 00 04 00 86 0A" + rep("00", 10) +
                               " CB 18" + rep("FF", 24))),
              0x9000);
    // COmbrixR22::Create_EF(0x0030, {51 01}, linear variable 04, NULL, NULL, NULL).
    EXPECT_EQ(sw(*card, create("62 33 80 02 00 30 82 01 04 83 02 51 01 85 01 00 86 09 00 00 00 FF FF 00 00 FF FF "
                               "CB 18" + rep("FF", 24))),
              0x9000);
    EXPECT_TRUE(card->file_exists({0x5100, 0x5101}));
    EXPECT_EQ(sw(*card, "00 A4 03 00"), 0x9000); // back to the MF
    // COmbrixR2::Create_DF_R22(0x0400, {52 00}, NULL) and Create_EF_R22_BIN.
    EXPECT_EQ(sw(*card, create("62 1B 81 02 00 00 82 01 38 83 02 52 00 85 03 01 04 00 86 09" + rep("00", 9))),
              0x9000);
    EXPECT_EQ(sw(*card, create("62 19 80 02 01 00 82 01 01 83 02 52 01 85 01 01 86 09 00 00 00 FF FF 00 00 FF FF")),
              0x9000);
    EXPECT_EQ(card->file_data({0x5200, 0x5201})->size(), 0x100u);
    // The 6F template is not R22's.
    EXPECT_EQ(sw(*card, create(kR2Ef)), 0x6A80);
}

TEST(Create, FirstGenerationTemplate)
{
    auto card = admin(Model::R1);
    // The library's CreateFileA(fdb 01, accessFlag 1, size 300, 3F01, recordSize 0).
    EXPECT_EQ(sw(*card, create("6F 1F 81 02 01 2C 82 03 01 00 00 83 02 3F 01 85 03 00 00 00 86 0B" + rep("00", 11))),
              0x9000);
    EXPECT_EQ(card->file_data({0x3F01})->size(), 300u);
    // A record file with accessFlag 0: the access bytes name reference 01.
    EXPECT_EQ(sw(*card, create("6F 1F 81 02 00 40 82 03 02 00 10 83 02 3F 02 85 03 00 00 00 "
                               "86 0B 01 01 01 01 01 00 00 00 01 01 00")),
              0x9000);
    EXPECT_EQ(sw(*card, "00 E2 00 00 10" + rep("00", 16)), 0x6982);
    // The second generation's template is not R1's.
    EXPECT_EQ(sw(*card, create(kR2Ef)), 0x6A80);
}

struct Malformed {
    const char* what;
    Model model;
    std::string tmpl;
};

class MalformedTemplate : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedTemplate, IsRefusedAndChangesNothing)
{
    auto card = admin(GetParam().model);
    ASSERT_EQ(sw(*card, "00 A4 00 00 02 60 00"), 0x9000);
    const auto before = card->to_json();
    const Bytes data = hex(GetParam().tmpl);
    Bytes cmd{0x00, 0xE0, 0x00, 0x00, static_cast<std::uint8_t>(data.size())};
    cmd.insert(cmd.end(), data.begin(), data.end());
    const Bytes r = card->transmit(cmd);
    EXPECT_EQ(to_hex(r), "6A 80") << GetParam().what;
    EXPECT_EQ(card->to_json(), before) << GetParam().what;
    // The card still works, and the current DF is unchanged.
    const std::string valid = GetParam().model == Model::R1
                                  ? "6F 1F 81 02 00 10 82 03 01 00 00 83 02 61 01 85 03 00 00 00 86 0B" + rep("00", 11)
                              : GetParam().model == Model::R22 ? "62 10 81 02 00 10 82 03 01 00 00 83 02 61 01 86 01 00"
                                                               : "6F 10 81 02 00 10 82 03 01 00 00 83 02 61 01 86 01 00";
    EXPECT_EQ(sw(*card, create(valid)), 0x9000);
    EXPECT_TRUE(card->file_exists({0x6000, 0x6101}));
}

const std::string kEfTail = " 83 02 61 01 86 01 00";
INSTANTIATE_TEST_SUITE_P(
    Templates, MalformedTemplate,
    ::testing::Values(
        Malformed{"wrong outer tag", Model::R2, "62 10 81 02 00 10 82 03 01 00 00" + kEfTail},
        Malformed{"outer length too long", Model::R2, "6F 11 81 02 00 10 82 03 01 00 00" + kEfTail},
        Malformed{"outer length too short", Model::R2, "6F 0F 81 02 00 10 82 03 01 00 00" + kEfTail},
        Malformed{"trailing byte", Model::R2, "6F 10 81 02 00 10 82 03 01 00 00" + kEfTail + " 00"},
        Malformed{"truncated element", Model::R2, "6F 07 81 02 00 10 82 03 01"},
        Malformed{"duplicate element", Model::R2, "6F 14 81 02 00 10 82 03 01 00 00 83 02 61 01" + kEfTail},
        Malformed{"unknown element", Model::R2, "6F 13 81 02 00 10 82 03 01 00 00 8A 01 05" + kEfTail},
        Malformed{"multi-byte tag", Model::R2, "6F 14 81 02 00 10 82 03 01 00 00 9F 1F 01 05" + kEfTail},
        Malformed{"no identifier", Model::R2, "6F 0C 81 02 00 10 82 03 01 00 00 86 01 00"},
        Malformed{"no descriptor", Model::R2, "6F 0B 81 02 00 10 83 02 61 01 86 01 00"},
        Malformed{"EF without size", Model::R2, "6F 0C 82 03 01 00 00 83 02 61 01 86 01 00"},
        Malformed{"two sizes", Model::R2, "6F 14 80 02 00 10 81 02 00 10 82 03 01 00 00" + kEfTail},
        Malformed{"unknown descriptor", Model::R2, "6F 10 81 02 00 10 82 03 07 00 00" + kEfTail},
        Malformed{"two-byte descriptor", Model::R2, "6F 0F 81 02 00 10 82 02 01 00" + kEfTail},
        Malformed{"name on an EF", Model::R2, "6F 13 81 02 00 10 82 03 01 00 00 84 01 41" + kEfTail},
        Malformed{"reserved identifier", Model::R2, "6F 10 81 02 00 10 82 03 01 00 00 83 02 FF FF 86 01 00"},
        Malformed{"empty access conditions", Model::R2, "6F 0F 81 02 00 10 82 03 01 00 00 83 02 61 01 86 00"},
        Malformed{"access conditions too long", Model::R2,
                  "6F 19 81 02 00 10 82 03 01 00 00 83 02 61 01 86 0A" + rep("00", 10)},
        Malformed{"short size", Model::R2, "6F 0F 81 01 10 82 03 01 00 00" + kEfTail},
        Malformed{"R22 SM tag on R2", Model::R2, "6F 12 81 02 00 10 82 03 01 00 00 CB 00" + kEfTail},
        Malformed{"6F on R22", Model::R22, "6F 10 81 02 00 10 82 03 01 00 00" + kEfTail},
        Malformed{"8B on R22", Model::R22, "62 12 81 02 00 10 82 03 01 00 00 8B 00" + kEfTail},
        Malformed{"R1 short access bytes", Model::R1,
                  "6F 1E 81 02 00 10 82 03 01 00 00 83 02 61 01 85 03 00 00 00 86 0A" + rep("00", 10)},
        Malformed{"R1 without 85", Model::R1, "6F 1A 81 02 00 10 82 03 01 00 00 83 02 61 01 86 0B" + rep("00", 11)},
        Malformed{"R1 with 80", Model::R1,
                  "6F 1F 80 02 00 10 82 03 01 00 00 83 02 61 01 85 03 00 00 00 86 0B" + rep("00", 11)},
        Malformed{"R1 one-byte descriptor", Model::R1,
                  "6F 1D 81 02 00 10 82 01 01 83 02 61 01 85 03 00 00 00 86 0B" + rep("00", 11)}),
    [](const ::testing::TestParamInfo<Malformed>& info) {
        std::string name = info.param.what;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

TEST(Create, OtherRefusals)
{
    auto card = admin(Model::R2);
    ASSERT_EQ(sw(*card, "00 A4 00 00 02 50 00"), 0x9000);
    const auto before = card->to_json();
    EXPECT_EQ(sw(*card, create("6F 10 81 02 00 10 82 03 01 00 00 83 02 50 01 86 01 00")), 0x6A89); // exists
    EXPECT_EQ(sw(*card, create("6F 10 81 02 00 10 82 03 01 00 00 83 02 50 00 86 01 00")), 0x6A89); // the DF's own
    EXPECT_EQ(sw(*card, create("6F 10 81 02 00 10 82 03 01 00 00 83 02 3F 00 86 01 00")), 0x6A89); // the MF's
    EXPECT_EQ(sw(*card, create("6F 13 82 03 38 00 00 83 02 51 00 84 08 A0 00 00 00 4F 4D 42 02")), 0x6A8A);
    EXPECT_EQ(sw(*card, create("6F 10 81 02 FF FF 82 03 01 00 00 83 02 51 01 86 01 00")), 0x6A84); // 64 KB > 32 KB
    EXPECT_EQ(sw(*card, "00 E0 00 01 12 6F 10 81 02 00 10 82 03 01 00 00 83 02 51 01 86 01 00"), 0x6A86);
    EXPECT_EQ(sw(*card, "00 E0 00 00"), 0x6700);
    EXPECT_EQ(card->to_json(), before);
}

TEST(Create, NeedsTheDfsCreateCondition)
{
    auto image = demo(Model::R2)->to_json();
    image["life_cycle"] = "20";
    image["mf"]["children"][2]["ac"] = "010000000000000000"; // DF 6000: create EF needs reference 01
    auto card = OmbrixCard::from_json(image);
    ASSERT_NE(card, nullptr);
    ASSERT_EQ(sw(*card, "00 A4 00 00 02 60 00"), 0x9000);
    EXPECT_EQ(sw(*card, create("6F 10 81 02 00 10 82 03 01 00 00 83 02 61 01 86 01 00")), 0x6982);
    EXPECT_EQ(sw(*card, create("6F 0C 82 03 38 00 00 83 02 61 02 86 01 00")), 0x9000); // create DF: free
}

TEST(Create, DfsNestOnlySoDeep)
{
    auto card = admin(Model::R23);
    int created = 0;
    for (int i = 0; i < 10; ++i) {
        char fid[8];
        std::snprintf(fid, sizeof fid, "71 %02X", i);
        if (sw(*card, create(std::string("6F 14 82 03 38 00 00 83 02 ") + fid + " 86 09" + rep("00", 9))) != 0x9000)
            break;
        ++created;
    }
    EXPECT_EQ(created, 7); // below the MF: depths 1 to 7
}

TEST(Delete, RemovesTheFileAndFreesItsMemory)
{
    auto card = admin(Model::R2);
    ASSERT_EQ(sw(*card, "00 A4 08 00 04 50 00 50 01"), 0x9000);
    const std::size_t free_before = card->memory_free();
    EXPECT_EQ(sw(*card, "00 E4 00 00 02 50 01"), 0x9000);
    EXPECT_FALSE(card->file_exists({0x5000, 0x5001}));
    EXPECT_EQ(card->memory_free(), free_before + 128 + 32);
    EXPECT_EQ(sw(*card, "00 B0 00 00 10"), 0x6986); // it was the current EF
    EXPECT_EQ(sw(*card, "00 E4 00 00 02 50 01"), 0x6A82);
}

TEST(Delete, CurrentDfItselfWithItsSubtree)
{
    auto card = admin(Model::R2);
    ASSERT_EQ(sw(*card, "00 A4 00 00 02 50 00"), 0x9000);
    EXPECT_EQ(sw(*card, "00 E4 00 00 02 50 00"), 0x9000);
    EXPECT_FALSE(card->file_exists({0x5000}));
    EXPECT_EQ(sw(*card, "00 A4 02 00 02 00 01"), 0x9000); // the current DF is the MF again
}

TEST(Delete, Refusals)
{
    auto card = admin(Model::R1);
    EXPECT_EQ(sw(*card, "00 E4 00 00 02 3F 00"), 0x6985); // the MF
    EXPECT_EQ(sw(*card, "00 E4 00 00 01 50"), 0x6700);
    EXPECT_EQ(sw(*card, "00 E4 00 00"), 0x6700);
    EXPECT_EQ(sw(*card, "00 E4 01 00 02 50 00"), 0x6A86);
    EXPECT_EQ(sw(*card, "00 E4 00 00 02 50 01"), 0x6A82); // not a file of the MF
    EXPECT_TRUE(card->file_exists({0x5000, 0x5001}));
}

TEST(Delete, NeedsTheFilesDeleteCondition)
{
    auto image = demo(Model::R2)->to_json();
    image["life_cycle"] = "20";
    image["mf"]["children"][0]["ac"] = "000000FFFFFF00FFFF"; // EF 0001: delete never
    auto card = OmbrixCard::from_json(image);
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(sw(*card, "00 E4 00 00 02 00 01"), 0x6985);
    EXPECT_TRUE(card->file_exists({0x0001}));
}

} // namespace
} // namespace ombrix::sim::testing
