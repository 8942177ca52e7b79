// The card image: built-in images, JSON round trip, and malformed images.
#include "tests/cardmodel/card_test_util.h"

#include <functional>

namespace ombrix::sim::testing {
namespace {

using nlohmann::json;

TEST(Image, BuiltinImagesRoundTripForEveryModel)
{
    for (const Model m : kAllModels) {
        for (const char* name : {"demo", "blank"}) {
            auto card = OmbrixCard::builtin(m, name, 77);
            ASSERT_NE(card, nullptr) << model_name(m) << " " << name;
            const json image = card->to_json();
            std::string error;
            auto copy = OmbrixCard::from_json(json::parse(image.dump()), &error);
            ASSERT_NE(copy, nullptr) << error;
            EXPECT_EQ(copy->to_json(), image) << model_name(m) << " " << name;
            EXPECT_EQ(copy->model(), m);
            EXPECT_EQ(copy->serial(), 77u);
            EXPECT_EQ(copy->atr(), card->atr());
        }
    }
    EXPECT_EQ(OmbrixCard::builtin(Model::R2, "gold"), nullptr);
}

TEST(Image, ChangesMadeByCommandsPersist)
{
    auto card = demo(Model::R22);
    ASSERT_EQ(sw(*card, "80 10 00 00"), 0x9000);
    ASSERT_EQ(sw(*card, "00 A4 08 00 04 50 00 50 01"), 0x9000);
    ASSERT_EQ(sw(*card, "00 D6 00 00 03 00 01 41"), 0x9000);
    ASSERT_EQ(sw(*card, "00 A4 02 00 02 50 02"), 0x9000);
    ASSERT_EQ(sw(*card, "00 E2 00 00 02 44 45"), 0x9000);
    ASSERT_EQ(sw(*card, "00 E0 00 00 13 62 11 80 02 00 08 82 01 01 83 02 50 0A 85 01 00 86 01 00"), 0x9000);
    auto copy = OmbrixCard::from_json(card->to_json());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->life_cycle(), 0x20);
    const Bytes greeting = *copy->file_data({0x5000, 0x5001});
    EXPECT_EQ(to_hex(Bytes(greeting.begin(), greeting.begin() + 3)), "00 01 41");
    EXPECT_EQ(copy->file_records({0x5000, 0x5002})->back(), hex("44 45"));
    EXPECT_EQ(copy->file_data({0x5000, 0x500A})->size(), 8u);
    EXPECT_EQ(copy->to_json(), card->to_json());
}

// A copy holds the same state, files at every depth included, and is a card
// of its own: what runs on it leaves the original as it was.
TEST(Image, ACopyIsEqualAndIndependent)
{
    for (const Model m : kAllModels) {
        auto card = demo(m);
        ASSERT_EQ(sw(*card, m == Model::R1 ? "B0 10 00 00" : "80 10 00 00"), 0x9000);
        const json before = card->to_json();
        auto copy = card->copy();
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->to_json(), before) << model_name(m);
        EXPECT_EQ(copy->atr(), card->atr());
        // The copy's files hang under the copy's own DFs: a select by path
        // from the MF, then a write, reach the copy only.
        ASSERT_EQ(sw(*copy, "00 A4 08 00 04 50 00 50 01"), 0x9000) << model_name(m);
        ASSERT_EQ(sw(*copy, "00 D6 00 00 01 7E"), 0x9000) << model_name(m);
        ASSERT_EQ(sw(*copy, "00 A4 03 00"), 0x9000) << model_name(m); // the parent of the EF's DF
        EXPECT_EQ(copy->file_data({0x5000, 0x5001})->front(), 0x7E);
        EXPECT_EQ(card->to_json(), before) << model_name(m);
    }
}

TEST(Image, HandWrittenMinimalImageGetsDefaults)
{
    const json image = json::parse(R"({
        "format": "ombrix-card-image/1",
        "model": "r23v",
        "identification": "00112233445566778899 AABBCCDDEEFF",
        "life_cycle": "10",
        "mf": {"fid": "3F00", "type": "DF", "children": [
            {"fid": "0101", "type": "transparent", "size": 8, "data": "0102"},
            {"fid": "0102", "type": "linear-variable", "size": 20, "records": ["41", "4243"]}
        ]},
        "pins": [{"reference": 1, "value": "31323334"}]
    })");
    std::string error;
    auto card = OmbrixCard::from_json(image, &error);
    ASSERT_NE(card, nullptr) << error;
    EXPECT_EQ(card->model(), Model::R23v);
    EXPECT_EQ(card->serial(), 0xAABBCCDDEEFFu);
    EXPECT_EQ(*card->file_data({0x0101}), hex("01 02 00 00 00 00 00 00"));
    EXPECT_EQ(card->memory_capacity(), 64u * 1024);
    const json saved = card->to_json();
    EXPECT_EQ(saved["pins"][0],
              json::parse(R"({"reference": 1, "value": "31323334", "tries": 3, "max_tries": 3, "min_length": 1})"));
    EXPECT_EQ(saved["transport_key"], "44454D4F2D5452414E53504F52543136"); // the issuer's default
    EXPECT_EQ(saved["responses"], "plain");
    EXPECT_EQ(saved["mf"]["children"][0]["ac"], "000000FFFF0000FFFF"); // the EF default
    // The defaults apply: read and update free.
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 01 01"), 0x9000);
    EXPECT_EQ(to_hex(send(*card, "00 B0 00 00 02").data), "01 02");
}

struct BadImage {
    const char* what;
    std::function<void(json&)> mutate;
};

class MalformedImage : public ::testing::TestWithParam<BadImage> {};

TEST_P(MalformedImage, IsRefusedWithAReason)
{
    json image = demo(GetParam().what[0] == '1' ? Model::R1 : Model::R2)->to_json();
    GetParam().mutate(image);
    std::string error;
    EXPECT_EQ(OmbrixCard::from_json(image, &error), nullptr) << GetParam().what;
    EXPECT_FALSE(error.empty()) << GetParam().what;
}

json& mf(json& image) { return image["mf"]; }
json& app(json& image) { return image["mf"]["children"][1]; }
json& greeting(json& image) { return app(image)["children"][0]; }

INSTANTIATE_TEST_SUITE_P(
    Images, MalformedImage,
    ::testing::Values(
        BadImage{"not an object", [](json& j) { j = json::array(); }},
        BadImage{"no format", [](json& j) { j.erase("format"); }},
        BadImage{"other format", [](json& j) { j["format"] = "ombrix-card-image/9"; }},
        BadImage{"unknown key", [](json& j) { j["colour"] = "gold"; }},
        BadImage{"unknown model", [](json& j) { j["model"] = "R24"; }},
        BadImage{"short identification", [](json& j) { j["identification"] = "00112233445566778899AABBCCDDEE"; }},
        BadImage{"identification not hex", [](json& j) { j["identification"] = "0011223344556677889XAABBCCDDEEFF"; }},
        BadImage{"two-byte life cycle", [](json& j) { j["life_cycle"] = "1020"; }},
        BadImage{"numeric life cycle", [](json& j) { j["life_cycle"] = 16; }},
        BadImage{"memory of 48 KB", [](json& j) { j["memory_kb"] = 48; }},
        BadImage{"MF with another identifier", [](json& j) { mf(j)["fid"] = "3F01"; }},
        BadImage{"MF that is an EF", [](json& j) { mf(j)["type"] = "transparent"; }},
        BadImage{"unknown file type", [](json& j) { greeting(j)["type"] = "cyclic"; }},
        BadImage{"unknown file key", [](json& j) { greeting(j)["colour"] = "gold"; }},
        BadImage{"duplicate identifier", [](json& j) { app(j)["children"][1]["fid"] = "5001"; }},
        BadImage{"3F00 below the MF", [](json& j) { greeting(j)["fid"] = "3F00"; }},
        BadImage{"data longer than size", [](json& j) { greeting(j)["size"] = 2; }},
        BadImage{"negative size", [](json& j) { greeting(j)["size"] = -1; }},
        BadImage{"size too large", [](json& j) { greeting(j)["size"] = 70000; }},
        BadImage{"records in a transparent EF", [](json& j) { greeting(j)["records"] = json::array({"41"}); }},
        BadImage{"fixed record of wrong length", [](json& j) { app(j)["children"][2]["records"][0] = "01"; }},
        BadImage{"records beyond the size", [](json& j) { app(j)["children"][1]["size"] = 5; }},
        BadImage{"children in an EF", [](json& j) { greeting(j)["children"] = json::array(); }},
        BadImage{"access conditions too long", [](json& j) { greeting(j)["ac"] = "00000000000000000000"; }},
        BadImage{"duplicate DF name", [](json& j) { mf(j)["children"][2]["name"] = app(j)["name"]; }},
        BadImage{"bad package entry", [](json& j) { j["packages"] = json::array({"0102"}); }},
        BadImage{"pins not an array", [](json& j) { j["pins"] = "none"; }},
        BadImage{"1: name on a first-generation DF", [](json& j) { app(j)["name"] = "A000"; }},
        BadImage{"1: SM bytes on the first generation", [](json& j) { greeting(j)["sm"] = "FF"; }},
        BadImage{"1: files beyond the memory", [](json& j) { greeting(j)["size"] = 20000; }}),
    what_name<BadImage>);

TEST(Models, NamesParseBothWays)
{
    for (const Model m : kAllModels)
        EXPECT_EQ(parse_model(model_name(m)), m);
    EXPECT_EQ(parse_model("r21V"), Model::R21v);
    EXPECT_EQ(parse_model("R3"), std::nullopt);
    EXPECT_EQ(parse_model(""), std::nullopt);
}

} // namespace
} // namespace ombrix::sim::testing
