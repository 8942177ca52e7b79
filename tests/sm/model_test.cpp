// Card-model detection on scripted answers to GET DATA 01 82 and 01 89.
#include "tests/sm/sm_test_util.h"

namespace ombrix::test {
namespace {

struct ModelCase {
    const char* answer;
    std::array<long, 7> expected; // IsR1, IsR2, IsR21, IsR21v, IsR22, IsR23, IsR23v
};

class ModelTest : public ConnectedTest, public ::testing::WithParamInterface<ModelCase> {};

TEST_P(ModelTest, EachTestSendsGetDataAndComparesTwoBytes)
{
    card_->otherwise(GetParam().answer);
    const std::array<long, 7> got = {sm_.IsR1(),  sm_.IsR2(),  sm_.IsR21(), sm_.IsR21v(),
                                     sm_.IsR22(), sm_.IsR23(), sm_.IsR23v()};
    EXPECT_EQ(got, GetParam().expected);
    for (const auto& command : sent())
        EXPECT_EQ(command, "00CA018202");
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ModelTest,
    ::testing::Values(ModelCase{"C801 9000", {1, 0, 0, 0, 0, 0, 0}},
                      ModelCase{"C802 9000", {0, 1, 0, 0, 0, 0, 0}},
                      ModelCase{"C803 9000", {0, 0, 1, 0, 0, 0, 0}},
                      ModelCase{"C804 9000", {0, 0, 0, 1, 0, 0, 0}},
                      ModelCase{"C805 9000", {0, 0, 0, 0, 1, 0, 0}},
                      ModelCase{"C806 9000", {0, 0, 0, 0, 0, 1, 0}},
                      ModelCase{"C809 9000", {0, 0, 0, 0, 0, 0, 1}},
                      ModelCase{"C807 9000", {0, 0, 0, 0, 0, 0, 0}},
                      ModelCase{"C808 9000", {0, 0, 0, 0, 0, 0, 0}},
                      ModelCase{"C9 02 9000", {0, 0, 0, 0, 0, 0, 0}},
                      // Too short to hold a model: nothing matches, not even a leftover byte.
                      ModelCase{"C8 9000", {0, 0, 0, 0, 0, 0, 0}},
                      ModelCase{"9000", {0, 0, 0, 0, 0, 0, 0}},
                      // A refusal: IsR1 and IsR2 return it, the others 0.
                      ModelCase{"6A88", {0x6A88, 0x6A88, 0, 0, 0, 0, 0}}));

class MemoryTest : public ConnectedTest {};

TEST_F(MemoryTest, R23MemorySize)
{
    int size = 0;
    card_->expect("00CA018906", "AABB0040CCDD 9000");
    EXPECT_EQ(sm_.R23_32_64(&size), 1);
    EXPECT_EQ(size, 64);
    card_->expect("00CA018906", "AABB0020CCDD 9000");
    EXPECT_EQ(sm_.R23_32_64(&size), 1);
    EXPECT_EQ(size, 32);
    card_->expect("00CA018906", "AABB00 9000");
    size = 0;
    EXPECT_EQ(sm_.R23_32_64(&size), 1);
    EXPECT_EQ(size, 32) << "fewer than four bytes";
    card_->expect("00CA018906", "6A88");
    size = 7;
    EXPECT_EQ(sm_.R23_32_64(&size), 0x6A88);
    EXPECT_EQ(size, 7);
}

TEST_F(MemoryTest, ExchangeFailureOfTheModelTests)
{
    pcsc().fail(PcscCall::Transmit, SCARD_W_REMOVED_CARD, InprocPcsc::kAlways);
    EXPECT_EQ(sm_.IsR2(), static_cast<long>(SCARD_W_REMOVED_CARD));
    EXPECT_EQ(sm_.IsR23(), 0);
}

} // namespace
} // namespace ombrix::test
