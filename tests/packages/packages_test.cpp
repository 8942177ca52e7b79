// LOAD EXECUTABLE's class byte from the model tests, and the package list.
#include "tests/packages/packages_test_util.h"

#include <array>
#include <vector>

namespace ombrix::test {
namespace {

constexpr const char* kModel = "00CA018202";
constexpr const char* kList = "00CA018880";

struct ClassCase {
    const char* name;
    const char* model_answer; // the answer to every GET DATA 01 82
    int model_tests;          // how many go out
    const char* cla;          // LOAD EXECUTABLE's class; null: refused
};

class LoadExecutableClass : public R2CardTest, public ::testing::WithParamInterface<ClassCase> {};

TEST_P(LoadExecutableClass, FollowsTheFirstModelThatAnswers)
{
    const ClassCase& c = GetParam();
    std::vector<std::string> expected;
    for (int i = 0; i < c.model_tests; ++i) {
        card_->expect(kModel, c.model_answer);
        expected.push_back(kModel);
    }
    if (c.cla != nullptr) {
        const std::string load = std::string(c.cla) + "20A1B203AABBCC";
        card_->expect(load, "9000");
        expected.push_back(load);
    }
    unsigned char data[] = {0xAA, 0xBB, 0xCC};
    const long expected_result = c.cla != nullptr ? 0 : OMBRIX_E_NO_MODEL;
    EXPECT_EQ(r2_.cmdLOAD_EXECUTABLE(data, 3, 0xA1, 0xB2), expected_result);
    EXPECT_EQ(sent(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Models, LoadExecutableClass,
    ::testing::Values(ClassCase{"R2", "C802 9000", 1, "80"}, ClassCase{"R21", "C803 9000", 2, "84"},
                      ClassCase{"R21v", "C804 9000", 3, "84"},
                      ClassCase{"R22", "C805 9000", 4, "84"},
                      ClassCase{"R23", "C806 9000", 5, "84"},
                      ClassCase{"R23v", "C809 9000", 6, "84"},
                      ClassCase{"R1", "C801 9000", 6, nullptr},
                      ClassCase{"Unknown", "C807 9000", 6, nullptr},
                      // IsR2 returns the refusal, which is not 0: class 80.
                      ClassCase{"ModelRefused", "6A88", 1, "80"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(R2CardTest, LoadExecutableReturnsTheCardsAnswer)
{
    card_->expect(kModel, "C805 9000").expect(kModel, "C805 9000").expect(kModel, "C805 9000");
    card_->expect(kModel, "C805 9000").expect("8420000001 5A", "6A80");
    unsigned char data[] = {0x5A};
    EXPECT_EQ(r2_.cmdLOAD_EXECUTABLE(data, 1, 0, 0), 0x6A80);

    EXPECT_EQ(r2_.cmdLOAD_EXECUTABLE(nullptr, 4, 0, 0), OMBRIX_E_INVALID_ARGUMENT);
    EXPECT_EQ(sent().size(), 5u) << "a null data pointer: nothing sent";
}

// -- the package list -------------------------------------------------------

constexpr PACKAGE kUntouched{0x5A, 0x5A};

struct ListCase {
    const char* name;
    const char* answer;
    std::vector<std::array<unsigned char, 2>> entries;
};

class PackageList : public R2CardTest, public ::testing::WithParamInterface<ListCase> {};

TEST_P(PackageList, EntriesAreBytesTwoAndThreeOfEachSix)
{
    card_->expect(kList, GetParam().answer);
    std::array<PACKAGE, 4> list;
    list.fill(kUntouched);
    int count = -1;
    ASSERT_EQ(r2_.GetPackages(list.data(), &count), 0u);
    const auto& want = GetParam().entries;
    ASSERT_EQ(count, static_cast<int>(want.size()));
    for (std::size_t i = 0; i < list.size(); ++i) {
        const auto expected = i < want.size() ? want[i] : std::array<unsigned char, 2>{0x5A, 0x5A};
        EXPECT_EQ(list[i].btId1, expected[0]) << "entry " << i;
        EXPECT_EQ(list[i].btId2, expected[1]) << "entry " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, PackageList,
    ::testing::Values(ListCase{"Two", "CF07 474B 1107 CF08 4D43 02D7 9000",
                               {{0x47, 0x4B}, {0x4D, 0x43}}},
                      ListCase{"ElevenBytes", "CF07 474B 1107 CF08 4D43 02 9000", {{0x47, 0x4B}}},
                      ListCase{"Empty", "9000", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(R2CardTest, PackageCountWithoutAListAndRefusal)
{
    card_->expect(kList, "000001020000 000003040000 000005060000 9000");
    int count = 0;
    EXPECT_EQ(r2_.GetPackages(nullptr, &count), 0u);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(sent(), std::vector<std::string>{kList});

    EXPECT_EQ(static_cast<long>(r2_.GetPackages(nullptr, nullptr)), OMBRIX_E_INVALID_ARGUMENT);
    EXPECT_EQ(sent().size(), 1u);

    card_->expect(kList, "6A88");
    EXPECT_EQ(r2_.GetPackages(nullptr, &count), 0x6A88u);
    EXPECT_EQ(count, 3) << "a refusal leaves the count";
}

TEST_F(R2CardTest, AnAnswerLongerThanAskedFillsNoMoreThan21Entries)
{
    // 42 entries where 128 bytes were asked for.
    std::string answer;
    for (int i = 0; i < 42; ++i)
        answer += "0000" + to_hex(Bytes{static_cast<std::uint8_t>(i), 0x01}) + "0000";
    card_->expect(kList, answer + "9000");
    std::array<PACKAGE, 42> list;
    list.fill(kUntouched);
    int count = 0;
    ASSERT_EQ(r2_.GetPackages(list.data(), &count), 0u);
    EXPECT_EQ(count, 21);
    EXPECT_EQ(list[20].btId1, 20);
    for (std::size_t i = 21; i < list.size(); ++i)
        ASSERT_EQ(list[i].btId1, 0x5A) << "entry " << i << " written";
}

TEST_F(R2CardTest, PackagePresence)
{
    const char* list = "0000 1111 0000 0000 4D44 0000 0000 4D43 0000 9000";
    card_->expect(kList, list).expect(kList, list).expect(kList, list);
    EXPECT_EQ(r2_.IsPackagePresent(PACKAGE{0x4D, 0x43}), 1) << "the last entry";
    EXPECT_EQ(r2_.IsPackagePresent(PACKAGE{0x4D, 0x45}), 0) << "both bytes must agree";
    EXPECT_EQ(r2_.IsPackagePresent(PACKAGE{0x00, 0x00}), 0) << "bytes 0-1 are not the identifier";

    card_->expect(kList, "9000").expect(kList, "6A88");
    EXPECT_EQ(r2_.IsPackagePresent(PACKAGE{0x00, 0x00}), 0) << "empty list";
    EXPECT_EQ(r2_.IsPackagePresent(PACKAGE{0x4D, 0x43}), 0) << "a refused list reads as absence";
    pcsc().fail(PcscCall::Transmit, SCARD_W_REMOVED_CARD, 2);
    EXPECT_EQ(r2_.IsPackagePresent(PACKAGE{0x4D, 0x43}), 0) << "so does a failed exchange";
}

} // namespace
} // namespace ombrix::test
