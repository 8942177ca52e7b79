// The profile check on its own: every kind of mistake a profile can hold is
// found, with the place it is at, before any card is touched; the shipped
// examples pass.
#include "tools/ombrix/profile.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <functional>

namespace ombrix::cli {
namespace {

using nlohmann::json;

// A small profile that passes: one DF with two EFs, two PINs, a key.
json valid_profile()
{
    return json::parse(R"({
      "format": "ombrix-profile/1",
      "model": "R2",
      "mf": {"size": 2048},
      "files": [
        {"fid": "5000", "type": "DF", "size": 1024, "children": [
          {"fid": "5001", "type": "transparent", "size": 32, "contents": {"text": "hello"}},
          {"fid": "5002", "type": "transparent", "size": 16, "ac": {"read": 1}}
        ]}
      ],
      "pins": [
        {"reference": 1, "value": {"env": "PIN"}, "unblock": 2},
        {"reference": 2, "value": {"generate": 8, "output": "puk.txt"}, "min_length": 8}
      ],
      "keys": [
        {"reference": 5, "type": "rsa", "df": "5000", "public_file": "5008"}
      ]
    })");
}

bool has_error(const ProfileCheck& check, const std::string& text)
{
    for (const auto& e : check.errors)
        if (e.find(text) != std::string::npos)
            return true;
    return false;
}

std::string all_errors(const ProfileCheck& check)
{
    std::string out;
    for (const auto& e : check.errors)
        out += e + "\n";
    return out;
}

TEST(ProfileCheck, AcceptsAValidProfileAndTheShippedExamples)
{
    const ProfileCheck check = check_profile(valid_profile(), "");
    ASSERT_TRUE(check.profile) << all_errors(check);
    EXPECT_TRUE(check.warnings.empty());
    // The named conditions go to their positions over the command's default.
    const FileNode& ef = check.profile->files[0].children[1];
    EXPECT_EQ(ef.ac, (Bytes{0x01, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF}));

    for (const char* name : {"r2-demo.json", "r22-demo.json"}) {
        const ProfileCheck example = load_profile(std::string(OMBRIX_SOURCE_DIR) + "/examples/profiles/" + name);
        EXPECT_TRUE(example.profile) << name << ":\n" << all_errors(example);
        EXPECT_TRUE(example.warnings.empty()) << name << ": the examples keep no secret inline";
    }
}

struct Mistake {
    const char* name;
    std::function<void(json&)> make;
    const char* error; // a part of the error it must give
};

class ProfileMistakes : public ::testing::TestWithParam<Mistake> {};

TEST_P(ProfileMistakes, AreFoundWithTheirPlace)
{
    json profile = valid_profile();
    GetParam().make(profile);
    const ProfileCheck check = check_profile(profile, "");
    EXPECT_FALSE(check.profile);
    EXPECT_TRUE(has_error(check, GetParam().error)) << "wanted: " << GetParam().error << "\ngot:\n" << all_errors(check);
}

json& df(json& p) { return p["files"][0]; }
json& ef(json& p, int i) { return p["files"][0]["children"][i]; }

INSTANTIATE_TEST_SUITE_P(
    Table, ProfileMistakes,
    ::testing::Values(
        // identifiers
        Mistake{"DuplicateSibling", [](json& p) { ef(p, 1)["fid"] = "5001"; },
                "files[0].children[1].fid: duplicate identifier 5001 in 3F00/5000"},
        Mistake{"ChildTakesItsDfsIdentifier", [](json& p) { ef(p, 1)["fid"] = "5000"; },
                "identifier of its own DF"},
        Mistake{"PublicFileTakesAFilesIdentifier", [](json& p) { p["keys"][0]["public_file"] = "5002"; },
                "keys[0].public_file: duplicate identifier 5002"},
        Mistake{"ReservedIdentifier", [](json& p) { ef(p, 0)["fid"] = "3F00"; }, "3F00 is reserved"},
        Mistake{"DuplicatePinReference", [](json& p) { p["pins"][1]["reference"] = 1; },
                "pins[1].reference: duplicate identifier: reference 01 (also pins[0])"},
        Mistake{"PinAndKeyShareAReference", [](json& p) { p["keys"][0]["reference"] = 2; },
                "keys[0].reference: duplicate identifier: reference 02"},
        Mistake{"DuplicateDfName",
                [](json& p) {
                    df(p)["name"] = "A000";
                    df(p)["children"].push_back(json{{"fid", "5100"}, {"type", "DF"}, {"name", "A000"}});
                },
                "duplicate DF name A000"},
        // unknown fields, at every level
        Mistake{"UnknownTopField", [](json& p) { p["colour"] = "blue"; }, "colour: unknown field"},
        Mistake{"UnknownFileField", [](json& p) { ef(p, 0)["sise"] = 32; }, "files[0].children[0].sise: unknown field"},
        Mistake{"UnknownCondition", [](json& p) { ef(p, 1)["ac"] = {{"raed", 1}}; },
                "files[0].children[1].ac.raed: unknown field"},
        Mistake{"UnknownSecretSource", [](json& p) { p["pins"][0]["value"] = {{"envv", "PIN"}}; },
                "pins[0].value.envv: unknown field"},
        // hex and sizes
        Mistake{"BadHex", [](json& p) { ef(p, 0)["contents"] = {{"hex", "00 1"}}; }, "bad hex"},
        Mistake{"RecordOfTheWrongSize", [](json& p) { ef(p, 0)["ac"] = "0000000000000000"; }, "8 bytes; 9 expected"},
        Mistake{"SmRecordOfTheWrongSize", [](json& p) { df(p)["sm"] = "FFFF"; }, "2 bytes; 24 expected"},
        Mistake{"FileTooLarge", [](json& p) { ef(p, 0)["size"] = 70000; }, "70000 is out of range (1 to 65535)"},
        Mistake{"ContentsLongerThanTheFile", [](json& p) { ef(p, 0)["contents"] = {{"text", std::string(40, 'x')}}; },
                "40 bytes do not fit the file's 32"},
        Mistake{"LengthPrefixCounts",
                [](json& p) { ef(p, 0)["contents"] = {{"text", std::string(31, 'x')}, {"length_prefixed", true}}; },
                "33 bytes do not fit the file's 32"},
        Mistake{"TooManyTries", [](json& p) { p["pins"][0]["tries"] = 16; }, "16 is out of range (1 to 15)"},
        Mistake{"RsaKeyOfAnOddSize", [](json& p) { p["keys"][0]["bits"] = 1000; }, "a multiple of 64"},
        Mistake{"RsaKeyTooLong", [](json& p) { p["keys"][0]["bits"] = 2048; }, "out of range (512 to 1680)"},
        Mistake{"R22FormatsOneSize", [](json& p) { p["model"] = "R22"; }, "always makes an MF of 1024 bytes"},
        Mistake{"R22DfConditionsAreTen",
                [](json& p) {
                    p["model"] = "R22";
                    p["mf"]["size"] = 1024;
                    df(p)["ac"] = "000000000000000000";
                },
                "9 bytes; 10 expected"},
        // references
        Mistake{"ConditionNamesNoPin", [](json& p) { ef(p, 1)["ac"] = {{"read", 3}}; },
                "names reference 03, which is no PIN or key"},
        Mistake{"HexConditionNamesNoPin", [](json& p) { ef(p, 1)["ac"] = "830000FFFF0000FFFF"; },
                "names reference 03"},
        Mistake{"UnblockingPinMissing", [](json& p) { p["pins"][0]["unblock"] = 9; }, "PIN 09 does not exist"},
        Mistake{"UnblockDisagreesWithTheConditions", [](json& p) { p["pins"][0]["ac"] = {{"reset", 1}}; },
                "its ac names another resetting PIN (01)"},
        Mistake{"PinUnblocksItself", [](json& p) { p["pins"][0]["unblock"] = 1; }, "cannot unblock itself"},
        Mistake{"ObjectInNoDf", [](json& p) { p["pins"][0]["df"] = "5100"; }, "pins[0].df: names no DF"},
        // what the card cannot be given
        Mistake{"LinearFixed", [](json& p) { ef(p, 1)["type"] = "linear-fixed"; },
                "linear-fixed files cannot be made"},
        Mistake{"FirstGeneration", [](json& p) { p["model"] = "R1"; }, "R1 cards are not personalized"},
        Mistake{"PinShorterThanItsMinimum",
                [](json& p) { p["pins"][0]["value"] = {{"inline", "12"}}; p["pins"][0]["min_length"] = 4; },
                "longer than the PIN itself"},
        Mistake{"TwoSecretsOneFile", [](json& p) {
                    p["keys"].push_back(json{{"reference", 6}, {"type", "3des"},
                                             {"value", {{"generate", true}, {"output", "puk.txt"}}}});
                },
                "the file puk.txt is written by pins[1] too"},
        Mistake{"TwoSourcesAtOnce", [](json& p) { p["pins"][0]["value"] = {{"env", "A"}, {"file", "b"}}; },
                "exactly one of inline, file, env and generate"},
        Mistake{"WrongFormat", [](json& p) { p["format"] = "ombrix-profile/2"; }, "this tool reads"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileCheck, ReportsEveryProblemOfARunAtOnce)
{
    json p = valid_profile();
    ef(p, 1)["fid"] = "5001";
    p["pins"][0]["tries"] = 0;
    p["extra"] = true;
    const ProfileCheck check = check_profile(p, "");
    EXPECT_EQ(check.errors.size(), 3u) << all_errors(check);
}

TEST(ProfileCheck, WarnsOfSecretsWrittenInTheProfile)
{
    json p = valid_profile();
    p["pins"][0]["value"] = {{"inline", "1234"}};
    p["transport_key"] = {{"hex", "00112233445566778899AABBCCDDEEFF"}};
    const ProfileCheck check = check_profile(p, "");
    ASSERT_TRUE(check.profile) << all_errors(check);
    ASSERT_EQ(check.warnings.size(), 2u);
    for (const auto& w : check.warnings)
        EXPECT_EQ(w.find("1234"), std::string::npos) << "a warning must not show the secret: " << w;
}

TEST(ProfileCheck, ReadsContentsFilesBesideTheProfile)
{
    const std::string dir = ::testing::TempDir();
    std::ofstream(dir + "/greeting.bin", std::ios::binary) << "from a file";
    json p = valid_profile();
    ef(p, 0)["contents"] = {{"file", "greeting.bin"}};
    const ProfileCheck check = check_profile(p, dir);
    ASSERT_TRUE(check.profile) << all_errors(check);
    EXPECT_EQ(check.profile->files[0].children[0].contents, (Bytes{'f', 'r', 'o', 'm', ' ', 'a', ' ', 'f', 'i', 'l', 'e'}));

    ef(p, 0)["contents"] = {{"file", "missing.bin"}};
    EXPECT_TRUE(has_error(check_profile(p, dir), "cannot read missing.bin"));
}

TEST(ProfileCheck, AFileThatIsNotJsonIsOneError)
{
    const std::string path = ::testing::TempDir() + "/broken-profile.json";
    std::ofstream(path) << "{\"model\": \"R2\",";
    const ProfileCheck check = load_profile(path);
    ASSERT_EQ(check.errors.size(), 1u);
    EXPECT_NE(check.errors[0].find("not JSON"), std::string::npos);
}

} // namespace
} // namespace ombrix::cli
