#include "tools/ombrix-sim/card_setup.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace ombrix::sim {
namespace {

class CardSetup : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = std::filesystem::temp_directory_path() /
              ("ombrix-sim-setup-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        path = dir / "card.json";
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    void write(const std::string& text) { std::ofstream(path) << text; }
    CardChoice from_file(std::optional<Model> model = std::nullopt)
    {
        CardChoice c;
        c.model = model;
        c.image = path.string();
        return c;
    }
    std::filesystem::path dir, path;
    std::ostringstream diag;
};

TEST_F(CardSetup, BuiltinImagesFollowModelAndSerial)
{
    CardChoice c;
    c.model = Model::R23;
    c.serial = 0x4D;
    const auto sim = make_sim_card(c, diag);
    ASSERT_TRUE(sim);
    EXPECT_EQ(sim->card->model(), Model::R23);
    EXPECT_EQ(sim->card->serial(), 0x4Du);
    EXPECT_FALSE(sim->state_file);

    c.image = "blank";
    c.model.reset();
    EXPECT_EQ(make_sim_card(c, diag)->card->model(), Model::R2);
}

TEST_F(CardSetup, AMissingFileStartsFromTheDemoImageAndIsToBeCreated)
{
    const auto sim = make_sim_card(from_file(Model::R21), diag);
    ASSERT_TRUE(sim);
    EXPECT_EQ(sim->card->model(), Model::R21);
    EXPECT_EQ(sim->state_file, path);
    EXPECT_EQ(sim->saved, ""); // differs from any image: the first save writes the file
    EXPECT_NE(diag.str().find("does not exist yet"), std::string::npos);
}

TEST_F(CardSetup, AFileKeepsItsCardAndOnlyAChangeMakesItDiffer)
{
    const auto original = OmbrixCard::builtin(Model::R23, "demo", 9);
    write(image_text(*original));
    const auto sim = make_sim_card(from_file(), diag);
    ASSERT_TRUE(sim) << diag.str();
    EXPECT_EQ(sim->card->model(), Model::R23);
    EXPECT_EQ(sim->card->serial(), 9u);
    EXPECT_EQ(sim->saved, image_text(*sim->card));
}

TEST_F(CardSetup, RefusesFilesThatAreNotTheCardAskedFor)
{
    write(image_text(*OmbrixCard::builtin(Model::R23, "demo")));
    EXPECT_FALSE(make_sim_card(from_file(Model::R2), diag));
    EXPECT_NE(diag.str().find("holds an R23 card, not R2"), std::string::npos);

    write("{ not json");
    EXPECT_FALSE(make_sim_card(from_file(), diag));
    EXPECT_NE(diag.str().find("is not JSON"), std::string::npos);

    write("{\"format\": 1}");
    EXPECT_FALSE(make_sim_card(from_file(), diag));
    EXPECT_NE(diag.str().find("is not a card image"), std::string::npos);
}

} // namespace
} // namespace ombrix::sim
