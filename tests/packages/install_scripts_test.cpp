// The two installation scripts: their commands byte for byte, where a refusal
// stops them, and the demonstration packages' activation rule.
#include "cards/r2/issuer_constants.h"
#include "tests/packages/packages_test_util.h"

#include <openssl/evp.h>

#include <string_view>
#include <vector>

namespace ombrix::test {
namespace {

namespace issuer = ombrix::issuer;

constexpr const char* kGenKeyCreate =
    "00E000001C 6F1A 81021107 8203210000 8302CF07 8503000000 8606FF0000000000";
constexpr const char* kChannelCreate =
    "00E000001F 6F1D 810202D7 8203210000 8302CF08 8503000000 8609FF00FFFFFF00FFFFFF";

std::string update(unsigned offset, std::span<const std::uint8_t> image, std::size_t n)
{
    const Bytes header{0x00, 0xD6, static_cast<std::uint8_t>(offset >> 8),
                       static_cast<std::uint8_t>(offset & 0xFF), static_cast<std::uint8_t>(n)};
    return to_hex(header) + to_hex(image.subspan(offset, n));
}

std::string activation(std::span<const std::uint8_t> block) { return "8020000008" + to_hex(block); }

using InstallTest = R2CardTest;

TEST_F(InstallTest, LoadGenKeyWrites45ChunksOf96AndOneOf39)
{
    card_->otherwise("9000");
    EXPECT_EQ(r2_.LoadGenKey(), 0);

    const auto image = issuer::gen_key_package_image();
    std::vector<std::string> expected{to_hex(hex(kGenKeyCreate))};
    for (unsigned offset = 0; offset <= 0x1080; offset += 96)
        expected.push_back(update(offset, image, 96));
    expected.push_back(update(0x10E0, image, 39));
    expected.push_back(activation(issuer::gen_key_activation()));
    ASSERT_EQ(expected.size(), 48u);
    EXPECT_EQ(sent(), expected);
}

TEST_F(InstallTest, LoadGenKeyStopsAtTheFirstRefusal)
{
    card_->expect(kGenKeyCreate, "6A89"); // the file is there from an earlier run
    EXPECT_EQ(r2_.LoadGenKey(), 0x6A89);
    EXPECT_EQ(sent().size(), 1u);

    card_->expect(kGenKeyCreate, "9000").answer("9000").answer("9000").answer("6282");
    EXPECT_EQ(r2_.LoadGenKey(), 0x6282) << "a warning stops it too";
    EXPECT_EQ(sent().size(), 1u + 4u) << "nothing after the refused chunk, nothing undone";
}

TEST_F(InstallTest, ManageChannelPackageSelectsTheMfAndWritesFourChunks)
{
    card_->otherwise("9000");
    EXPECT_EQ(r2_.ManageChannelPackage(), 0);

    const auto image = issuer::channel_package_image();
    EXPECT_EQ(sent(), (std::vector<std::string>{"00A40000", to_hex(hex(kChannelCreate)),
                                                update(0, image, 240), update(240, image, 240),
                                                update(480, image, 240), update(0x02D0, image, 7),
                                                activation(issuer::channel_activation())}));
}

TEST_F(InstallTest, ManageChannelPackageReturnsTheFirstRefusal)
{
    card_->expect("00A40000", "9000").expect(kChannelCreate, "6A89");
    EXPECT_EQ(r2_.ManageChannelPackage(), 0x6A89);
    EXPECT_EQ(sent().size(), 2u);

    card_->expect("00A40000", "9000").expect(kChannelCreate, "9000");
    for (int i = 0; i < 4; ++i)
        card_->answer("9000");
    card_->answer("6A80");
    EXPECT_EQ(r2_.ManageChannelPackage(), 0x6A80) << "LOAD EXECUTABLE's answer";
}

TEST_F(InstallTest, OnAChannelOnlyActivationKeepsItsClass)
{
    card_->otherwise("9000");
    r2_.Set_ChannelUsed(5);
    EXPECT_EQ(r2_.ManageChannelPackage(), 0);
    const auto commands = sent();
    ASSERT_EQ(commands.size(), 7u);
    for (std::size_t i = 0; i + 1 < commands.size(); ++i)
        EXPECT_EQ(commands[i].substr(0, 2), "41") << commands[i];
    EXPECT_EQ(commands.back().substr(0, 2), "80");
}

// The virtual card activates a demonstration image only when its activation
// block is the first 8 bytes of the image's SHA-256.
TEST(DemonstrationPackages, ActivationBlocksAgreeWithTheirImages)
{
    struct Package {
        std::span<const std::uint8_t> image;
        std::span<const std::uint8_t> activation;
        Bytes id;
    };
    const Package packages[] = {
        {issuer::gen_key_package_image(), issuer::gen_key_activation(), {0x47, 0x4B}},
        {issuer::channel_package_image(), issuer::channel_activation(), {0x4D, 0x43}}};
    for (const auto& p : packages) {
        const std::string_view label(reinterpret_cast<const char*>(p.image.data()) + 4, 28);
        if (label != "OMBRIX DEMONSTRATION PACKAGE")
            GTEST_SKIP() << "an issuer's own package file";
        EXPECT_EQ(to_hex(p.image.first(2)), to_hex(p.id));
        EXPECT_EQ(p.image[2] * 256u + p.image[3], p.image.size());
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        const int ok = EVP_Digest(p.image.data(), p.image.size(), digest, &length, EVP_sha256(),
                                  nullptr);
        ASSERT_EQ(ok, 1);
        EXPECT_EQ(to_hex(p.activation), to_hex(std::span<const std::uint8_t>(digest, 8)));
    }
}

} // namespace
} // namespace ombrix::test
