// CREATE FILE with the templates the library sends, malformed templates,
// and DELETE FILE. What the library's own Create_DF and Create_EF make of a
// blank card runs in the library's personalization tests; single-command
// refusals are in the status-word table.
#include "tests/cardmodel/card_test_util.h"

namespace ombrix::sim::testing {
namespace {

std::string create(const std::string& tmpl) { return with_lc("00 E0 00 00", tmpl); }

// The library's Create_EF(0x0020, {12 34}, t_FILE 1, NULL, NULL, NULL).
const std::string kR2Ef = "6F 37 81 02 00 20 82 03 01 00 00 83 02 12 34 85 03 01 00 20 "
                          "86 09 00 00 00 FF FF 00 00 FF FF 8B 18" + rep("FF", 24);
// The library's Create_DF(0x0400, {51 00}, NULL, NULL, NULL).
const std::string kR2Df = "6F 37 81 02 FF FF 82 03 38 00 00 83 02 51 00 85 03 01 04 00 86 09" + rep("00", 9) +
                          " 8B 18" + rep("FF", 24);

TEST(Create, SecondGenerationEfAndDf)
{
    auto card = admin(Model::R2);
    EXPECT_EQ(sw(*card, create(kR2Ef)), 0x9000);
    EXPECT_EQ(card->file_data({0x1234})->size(), 0x20u);
    // The created EF is the current file: the host writes it at once.
    EXPECT_EQ(sw(*card, "00 D6 00 00 02 CA FE 70"), 0x9000);
    EXPECT_EQ((*card->file_data({0x1234}))[1], 0xFE);
    const Answer fcp = send(*card, "00 A4 00 00 02 12 34 00");
    EXPECT_EQ(to_hex(Bytes(fcp.data.begin(), fcp.data.begin() + 6)), "62 37 80 02 00 20");
    EXPECT_EQ(sw(*card, create(kR2Df)), 0x9000);
    const Answer df = send(*card, "00 A4 00 00 02 51 00 10");
    EXPECT_EQ(to_hex(Bytes(df.data.begin() + 2, df.data.begin() + 6)), "81 02 04 00"); // the 85 size
}

// COmbrixR2's Create_DF_R22(0x0400, {52 00}, NULL) and Create_EF_R22_BIN, and
// a record EF of COmbrixR22.
TEST(Create, R22TemplatesOfTheSecondGenerationsLibrary)
{
    auto card = admin(Model::R22);
    EXPECT_EQ(sw(*card, create("62 1B 81 02 00 00 82 01 38 83 02 52 00 85 03 01 04 00 86 09" + rep("00", 9))),
              0x9000);
    EXPECT_EQ(sw(*card, create("62 19 80 02 01 00 82 01 01 83 02 52 01 85 01 01 86 09 00 00 00 FF FF 00 00 FF FF")),
              0x9000);
    EXPECT_EQ(card->file_data({0x5200, 0x5201})->size(), 0x100u);
    // COmbrixR22::Create_EF(0x0030, {52 02}, linear variable 04, NULL, NULL, NULL).
    EXPECT_EQ(sw(*card, create("62 33 80 02 00 30 82 01 04 83 02 52 02 85 01 00 86 09 00 00 00 FF FF 00 00 FF FF "
                               "CB 18" + rep("FF", 24))),
              0x9000);
    EXPECT_TRUE(card->file_records({0x5200, 0x5202}));
}

// The library's CreateFileA with accessFlag 0: the access bytes name reference 01.
TEST(Create, FirstGenerationAccessFlag)
{
    auto card = admin(Model::R1);
    EXPECT_EQ(sw(*card, create("6F 1F 81 02 00 40 82 03 02 00 10 83 02 3F 02 85 03 00 00 00 "
                               "86 0B 01 01 01 01 01 00 00 00 01 01 00")),
              0x9000);
    EXPECT_EQ(sw(*card, "00 E2 00 00 10" + rep("00", 16)), 0x6982);
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
    EXPECT_EQ(sw(*card, create(GetParam().tmpl)), 0x6A80) << GetParam().what;
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
                  "6F 1D 81 02 00 10 82 01 01 83 02 61 01 85 03 00 00 00 86 0B" + rep("00", 11)},
        Malformed{"the library's R2 EF on R1", Model::R1, kR2Ef},
        Malformed{"the library's R2 EF on R22", Model::R22, kR2Ef}),
    what_name<Malformed>);

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
