// LOAD EXECUTABLE and the package list on the card alone: activation blocks
// computed here with OpenSSL, the order of the refusals, the class each
// model takes, and a list that follows its files.
#include "tests/cardmodel/card_test_util.h"

#include <openssl/evp.h>

namespace ombrix::sim::testing {
namespace {

std::string sha256_first8(const Bytes& content)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EXPECT_EQ(EVP_Digest(content.data(), content.size(), digest, &length, EVP_sha256(), nullptr), 1);
    return to_hex(Bytes(digest, digest + 8));
}

// Executable EF `fid` (two bytes of hex) of 16 bytes in the current DF,
// current after CREATE FILE, holding `content`.
Bytes make_executable(OmbrixCard& card, const std::string& fid, const std::string& content)
{
    const std::string outer = card.model() == Model::R22 ? "62" : "6F";
    EXPECT_EQ(sw(card, "00 E0 00 00 0F " + outer + " 0D 81 02 00 10 82 03 21 00 00 83 02 " + fid), 0x9000);
    EXPECT_EQ(sw(card, "00 D6 00 00 10 " + content), 0x9000);
    return hex(content);
}

const std::string kImage = "5A 31 00 10 01 02 03 04 05 06 07 08 09 0A 0B 0C";

TEST(Packages, RefusalsComeInOrderAndListNothing)
{
    auto card = admin(Model::R21);
    const Bytes image = make_executable(*card, "D0 01", kImage);
    const std::string block = sha256_first8(image);
    EXPECT_EQ(sw(*card, "80 20 00 00 07 01 02 03 04 05 06 07"), 0x6700);
    EXPECT_EQ(sw(*card, "80 20 00 00"), 0x6700);
    EXPECT_EQ(sw(*card, "80 20 01 00 08 " + block), 0x6A86);
    Bytes wrong = hex(block);
    wrong[7] ^= 0x01;
    EXPECT_EQ(sw(*card, "80 20 00 00 08 " + to_hex(wrong)), 0x6A80);

    // A tampered image (one byte changed) is not activated by its block.
    EXPECT_EQ(sw(*card, "00 D6 00 0F 01 0D"), 0x9000);
    EXPECT_EQ(sw(*card, "80 20 00 00 08 " + block), 0x6A80);

    EXPECT_EQ(sw(*card, "00 A4 00 00 02 00 01"), 0x9000); // a transparent EF
    EXPECT_EQ(sw(*card, "80 20 00 00 08 " + block), 0x6981);
    EXPECT_EQ(sw(*card, "00 A4 00 00"), 0x9000); // the MF: no current EF
    EXPECT_EQ(sw(*card, "80 20 00 00 08 " + block), 0x6986);
    EXPECT_EQ(to_hex(send(*card, "00 CA 01 88 80").data), "CF 07 47 4B 11 07 CF 08 4D 43 02 D7");

    EXPECT_EQ(sw(*card, "00 A4 00 00 02 D0 01"), 0x9000);
    EXPECT_EQ(sw(*card, "80 10 00 00"), 0x9000); // operational: no activation
    EXPECT_EQ(sw(*card, "80 20 00 00 08 " + block), 0x6985);
}

class PerSecondGeneration : public ::testing::TestWithParam<Model> {};

// Class 80 activates on every model; class 84 on the revisions after R2, as
// a plain command that is not unwrapped.
TEST_P(PerSecondGeneration, ActivationClasses)
{
    for (const char* cla : {"80", "84"}) {
        auto card = admin(GetParam());
        const Bytes image = make_executable(*card, "D0 01", kImage);
        const std::uint16_t got = sw(*card, std::string(cla) + " 20 00 00 08 " + sha256_first8(image));
        const bool accepted = std::string(cla) == "80" || GetParam() != Model::R2;
        EXPECT_EQ(got, accepted ? 0x9000 : 0x6882) << cla;
        const Answer list = send(*card, "00 CA 01 88 80");
        ASSERT_EQ(list.data.size(), accepted ? 18u : 12u) << cla;
        if (accepted) {
            EXPECT_EQ(to_hex(Bytes(list.data.end() - 6, list.data.end())), "D0 01 5A 31 00 10");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Models, PerSecondGeneration,
                         ::testing::Values(Model::R2, Model::R21, Model::R21v, Model::R22, Model::R23,
                                           Model::R23v),
                         model_param_name);

TEST(Packages, OneEntryPerPackageAndAFileTakesItsPackageAlong)
{
    auto card = admin(Model::R23);
    const Bytes image = make_executable(*card, "D0 01", kImage);
    const std::string block = sha256_first8(image);
    EXPECT_EQ(sw(*card, "80 20 00 00 08 " + block), 0x9000);
    EXPECT_EQ(sw(*card, "80 20 00 00 08 " + block), 0x9000);
    EXPECT_EQ(send(*card, "00 CA 01 88 80").data.size(), 18u);

    // The same package from another file replaces the entry.
    make_executable(*card, "D0 02", kImage);
    EXPECT_EQ(sw(*card, "80 20 00 00 08 " + block), 0x9000);
    EXPECT_EQ(to_hex(send(*card, "00 CA 01 88 80").data),
              "CF 07 47 4B 11 07 CF 08 4D 43 02 D7 D0 02 5A 31 00 10");

    // A file of the same identifier elsewhere is not the package's file.
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 60 00"), 0x9000);
    make_executable(*card, "CF 08", kImage);
    EXPECT_EQ(sw(*card, "00 E4 00 00 02 CF 08"), 0x9000);
    EXPECT_EQ(send(*card, "00 CA 01 88 80").data.size(), 18u);

    // The MF's CF 08 takes the channel package along.
    EXPECT_EQ(sw(*card, "00 A4 00 00"), 0x9000);
    EXPECT_EQ(sw(*card, "00 E4 00 00 02 CF 08"), 0x9000);
    EXPECT_EQ(to_hex(send(*card, "00 CA 01 88 80").data), "CF 07 47 4B 11 07 D0 02 5A 31 00 10");
    EXPECT_EQ(card->to_json()["packages"].size(), 2u);
}

} // namespace
} // namespace ombrix::sim::testing
