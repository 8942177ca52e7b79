// The library's installation scripts, package listing and logical channels
// against the virtual card through the in-process PC/SC. The channels' refusals
// are checked on the card alone.
#include "cards/r2/issuer_constants.h"
#include "tests/cardmodel/library_test_util.h"

#include <array>

namespace ombrix::test {
namespace {

constexpr PACKAGE kGenKey{0x47, 0x4B};
constexpr PACKAGE kChannels{0x4D, 0x43};

Bytes bytes_of(std::span<const std::uint8_t> s)
{
    return Bytes(s.begin(), s.end());
}

class PackagesOnTheCard : public OnTheCard {
protected:
    // The card's package list as it answers it.
    std::string listing() { return to_hex(card_->transmit(hex("00 CA 01 88 80"))); }
    static Bytes read(COmbrixR2& session, unsigned long length)
    {
        Bytes out(length);
        EXPECT_EQ(session.cmdREAD_BINARY(out.data(), &length, nullptr), 0);
        out.resize(length);
        return out;
    }
    COmbrixR2 r2_;
};

class ScriptsPerModel : public PackagesOnTheCard, public ::testing::WithParamInterface<Model> {};

// A demo card whose package files are deleted first (DELETE FILE brings its
// own phase bracket), then put in administration for the scripts.
TEST_P(ScriptsPerModel, InstallBothPackagesAndListThem)
{
    connect(r2_, OmbrixCard::builtin(GetParam(), "demo"));
    unsigned char gen_key_file[] = {0xCF, 0x07};
    unsigned char channel_file[] = {0xCF, 0x08};
    ASSERT_EQ(r2_.cmdDELETE_FILE(gen_key_file, nullptr), 0);
    ASSERT_EQ(r2_.cmdDELETE_FILE(channel_file, nullptr), 0);
    ASSERT_EQ(r2_.cmdPHASE_CONTROL(), 0);
    ASSERT_EQ(r2_.GetLifeCycle(), 0x20);
    std::array<PACKAGE, 21> list{};
    int count = -1;
    ASSERT_EQ(r2_.GetPackages(list.data(), &count), 0u);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(r2_.IsPackagePresent(kChannels), 0);
    unsigned char channel = 0;
    EXPECT_EQ(r2_.OpenChannel(&channel), 0x6A81);

    ASSERT_EQ(r2_.LoadGenKey(), 0);
    ASSERT_EQ(r2_.ManageChannelPackage(), 0);
    ASSERT_EQ(r2_.GetPackages(list.data(), &count), 0u);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(list[0].btId1, kGenKey.btId1);
    EXPECT_EQ(list[0].btId2, kGenKey.btId2);
    EXPECT_EQ(list[1].btId1, kChannels.btId1);
    EXPECT_EQ(list[1].btId2, kChannels.btId2);
    EXPECT_EQ(r2_.IsPackagePresent(kGenKey), 1);
    EXPECT_EQ(r2_.IsPackagePresent(kChannels), 1);
    EXPECT_EQ(listing(), "CF07474B1107CF084D4302D79000");
    EXPECT_EQ(*card_->file_data({0xCF07}), bytes_of(issuer::gen_key_package_image()));
    EXPECT_EQ(*card_->file_data({0xCF08}), bytes_of(issuer::channel_package_image()));

    EXPECT_EQ(r2_.LoadGenKey(), 0x6A89); // the file is still there
    ASSERT_EQ(select(r2_, {0xCF, 0x07}), 0);
    unsigned long length = 16;
    Bytes out(16);
    EXPECT_EQ(r2_.cmdREAD_BINARY(out.data(), &length, nullptr), 0x6985); // the scripts' images are not readable
    EXPECT_EQ(r2_.OpenChannel(&channel), 0);
    EXPECT_EQ(channel, 1);
}

INSTANTIATE_TEST_SUITE_P(Models, ScriptsPerModel, ::testing::Values(Model::R2, Model::R21, Model::R23v),
                         [](const auto& info) { return std::string(sim::model_name(info.param)); });

// cmdLOAD_EXECUTABLE sends class 84 on an R21: a tampered image is refused
// and not listed, the intact one replaces the package's entry.
TEST_F(PackagesOnTheCard, TamperedImageIsRefusedAndNotListed)
{
    connect(r2_, OmbrixCard::builtin(Model::R21, "demo"));
    ASSERT_EQ(r2_.cmdPHASE_CONTROL(), 0);
    Bytes image = bytes_of(issuer::channel_package_image());
    Bytes activation = bytes_of(issuer::channel_activation());
    unsigned char fid[] = {0xD0, 0x08};
    ASSERT_EQ(r2_.Create_EF(static_cast<unsigned short>(image.size()), fid, COmbrixR2::FILE_EXECUTABLE,
                            nullptr, nullptr, nullptr),
              0);
    image[400] ^= 0x01;
    ASSERT_EQ(r2_.cmdUPDATE_BINARY(image.data(), image.size(), nullptr), 0);
    EXPECT_EQ(r2_.cmdLOAD_EXECUTABLE(activation.data(), 8, 0x00, 0x00), 0x6A80);
    EXPECT_EQ(pcsc().last_command()[0], 0x84);
    EXPECT_EQ(listing(), "CF07474B1107CF084D4302D79000");

    image[400] ^= 0x01;
    ASSERT_EQ(r2_.cmdUPDATE_BINARY(image.data(), image.size(), nullptr), 0);
    EXPECT_EQ(r2_.cmdLOAD_EXECUTABLE(activation.data(), 8, 0x00, 0x00), 0);
    EXPECT_EQ(listing(), "CF07474B1107D0084D4302D79000");
}

// Two sessions on one reader (shared mode), each on a channel of its own:
// their selections do not disturb each other.
TEST_F(PackagesOnTheCard, TwoSessionsReadTheirOwnFilesOnTheirOwnChannels)
{
    insert(OmbrixCard::builtin(Model::R23, "demo"));
    COmbrixR2 first;
    COmbrixR2 second;
    connect(first);
    connect(second);
    unsigned char a = 0;
    unsigned char b = 0;
    ASSERT_EQ(first.OpenChannel(&a), 0);
    ASSERT_EQ(second.OpenChannel(&b), 0);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 2);

    const Bytes greeting = *card_->file_data({0x5000, 0x5001});
    const Bytes card_info = *card_->file_data({0x0001});
    const Bytes pattern = *card_->file_data({0x5000, 0x5006});
    ASSERT_EQ(select(first, {0x50, 0x00, 0x50, 0x01}), 0);
    ASSERT_EQ(select(second, {0x00, 0x01}), 0);
    EXPECT_EQ(read(first, 128), greeting);
    EXPECT_EQ(read(second, 64), card_info);
    ASSERT_EQ(select(first, {0x50, 0x00, 0x50, 0x06}), 0);
    EXPECT_EQ(read(second, 64), card_info);
    EXPECT_EQ(read(first, 600), pattern);

    // Closed, the second session is back on the basic channel, which has
    // selected nothing; the first keeps its file.
    ASSERT_EQ(second.CloseChannel(b), 0);
    unsigned long length = 16;
    Bytes out(16);
    EXPECT_EQ(second.cmdREAD_BINARY(out.data(), &length, nullptr), 0x6986);
    EXPECT_EQ(read(first, 16), Bytes(pattern.begin(), pattern.begin() + 16));
}

} // namespace
} // namespace ombrix::test
