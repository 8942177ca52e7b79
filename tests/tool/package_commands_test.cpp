// The package family and `apdu --channel` over the in-process PC/SC: the
// card model's demo packages, the installation scripts on a card prepared for
// them (and a failing step named), LOAD EXECUTABLE, and commands sent on a
// logical channel that is closed again whatever the run did.
#include "cards/r2/issuer_constants.h"
#include "tests/tool/tool_harness.h"
#include "tools/ombrix/channel_option.h"

#include <algorithm>

namespace ombrix::cli::test {
namespace {

using ombrix::sim::Model;
using ombrix::test::to_hex;

class PackageCommands : public ToolHarness {
protected:
    // The demo card as the scripts need it: package files gone, phase 20.
    void prepare_demo_card()
    {
        demo_card(Model::R2);
        ASSERT_EQ(ombrix({ "delete-file", "-f", "3F00", "CF07" }).exit, kExitOk);
        ASSERT_EQ(ombrix({ "delete-file", "-f", "3F00", "CF08" }).exit, kExitOk);
        ASSERT_EQ(ombrix({ "lifecycle", "--switch" }).exit, kExitOk);
    }

    bool was_sent(const std::string& command) const
    {
        const auto all = sent();
        return std::find(all.begin(), all.end(), command) != all.end();
    }
};

TEST(ChannelClass, PutsTheChannelIntoEveryClassThatCanCarryIt)
{
    struct Case {
        std::uint8_t cla;
        unsigned channel;
        int expected; // -1: refused
    };
    const Case cases[] = {
        { 0x00, 1, 0x01 }, { 0x0C, 3, 0x0F }, { 0x10, 2, 0x12 }, { 0x80, 3, 0x83 }, { 0x90, 1, 0x91 },
        // Channels 4 to 19: the further interindustry class, chaining and SM kept.
        { 0x00, 4, 0x40 }, { 0x10, 7, 0x53 }, { 0x0C, 5, 0x61 }, { 0x08, 4, 0x60 }, { 0x00, 19, 0x4F },
        // A class that names a channel, proprietary classes beyond 3, proprietary SM, others.
        { 0x01, 1, -1 }, { 0x43, 1, -1 }, { 0x80, 4, -1 }, { 0x04, 4, -1 }, { 0xA0, 1, -1 },
        { 0xFF, 1, -1 }, { 0x00, 20, -1 }, { 0x00, 0, -1 } };
    for (const Case& c : cases) {
        const auto cla = class_on_channel(c.cla, c.channel);
        EXPECT_EQ(cla ? int(*cla) : -1, c.expected) << "class " << int(c.cla) << " channel " << c.channel;
    }
}

TEST_F(PackageCommands, ListsTheDemoPackages)
{
    demo_card(Model::R2);
    const Result listed = ombrix({ "packages", "--json" });
    ASSERT_EQ(listed.exit, kExitOk) << listed.err;
    EXPECT_EQ(listed.json()["packages"], nlohmann::json::array({ "474B", "4D43" }));
    EXPECT_EQ(listed.json()["model"], "R2");
    EXPECT_EQ(ombrix({ "--hex", "colon", "packages" }).out, "47:4B\n4D:43\n");

    // Deleting a package's file takes it off the list.
    ASSERT_EQ(ombrix({ "delete-file", "-f", "3F00", "CF07" }).exit, kExitOk);
    EXPECT_EQ(ombrix({ "packages" }).out, "4D 43\n");
}

TEST_F(PackageCommands, InstallsTheChannelPackageOnAPreparedCard)
{
    prepare_demo_card();
    EXPECT_EQ(ombrix({ "packages" }).out, "");
    err_is_terminal = true;
    const Result installed = ombrix({ "install", "channels" });
    ASSERT_EQ(installed.exit, kExitOk) << installed.err;
    EXPECT_HAS(installed.out, "installed the channel package 4D 43 in file CF08");
    EXPECT_HAS(installed.err, "installing channels: 100% (7/7)");
    const Result listed = ombrix({ "packages", "--json" });
    EXPECT_EQ(listed.json()["packages"], nlohmann::json::array({ "4D43" }));

    // Again: the file is there, so CREATE FILE (step 2) fails; nothing else is sent.
    err_is_terminal = false;
    const std::size_t before = sent().size();
    const Result again = ombrix({ "install", "channels", "--json" });
    EXPECT_EQ(again.exit, kExitCardRefused);
    EXPECT_HAS(again.err, "(ManageChannelPackage): step 2 of 7, CREATE FILE CF08: ");
    EXPECT_HAS(again.err, "(6A89)");
    EXPECT_HAS(again.err, "hint: file CF08 exists already");
    EXPECT_LACKS(again.err, "%") << "no progress line off a terminal";
    EXPECT_EQ(again.json()["failed_step"], 2);
    EXPECT_EQ(again.json()["status"], "6A89");
    EXPECT_EQ(again.json()["ok"], false);
    EXPECT_EQ(sent().size() - before, 3u) << "model query, SELECT, CREATE FILE";
}

TEST_F(PackageCommands, InstallsTheKeyGenerationPackageInTheDfGiven)
{
    prepare_demo_card();
    err_is_terminal = true;
    const Result installed = ombrix({ "install", "genkey", "--df", "3F00", "--json" });
    ASSERT_EQ(installed.exit, kExitOk) << installed.err;
    EXPECT_EQ(installed.json()["package"], "474B");
    EXPECT_EQ(installed.json()["steps"], 48);
    EXPECT_HAS(installed.err, "(48/48)");
    EXPECT_TRUE(was_sent("00D610E027" + to_hex(ombrix::issuer::gen_key_package_image().subspan(4320))));
    EXPECT_EQ(ombrix({ "packages" }).out, "47 4B\n");
}

TEST_F(PackageCommands, InstallOutsideTheAdministrationPhaseNamesTheStep)
{
    // The demo card is in phase 10 and holds both files: CREATE FILE is refused.
    demo_card(Model::R2);
    const Result refused = ombrix({ "install", "genkey" });
    EXPECT_EQ(refused.exit, kExitCardRefused);
    EXPECT_HAS(refused.err, "step 1 of 48, CREATE FILE CF07");
}

TEST_F(PackageCommands, LoadPackageActivatesTheFileGiven)
{
    demo_card(Model::R2);
    const auto activation = ombrix::issuer::channel_activation();
    const std::string block = to_hex(std::span(activation.data(), activation.size()));

    // Phase 10: LOAD EXECUTABLE is refused, with the way out.
    const Result phase = ombrix({ "load-package", "--file", "3F00/CF08", block });
    EXPECT_EQ(phase.exit, kExitCardRefused);
    EXPECT_HAS(phase.err, "activating the package in 3F00/CF08 (LOAD EXECUTABLE)");
    EXPECT_HAS(phase.err, "lifecycle --switch");

    ASSERT_EQ(ombrix({ "lifecycle", "--switch" }).exit, kExitOk);
    const Result wrong = ombrix({ "load-package", "-f", "3F00/CF08", "0001020304050607" });
    EXPECT_EQ(wrong.exit, kExitCardRefused);
    EXPECT_HAS(wrong.err, "(6A80)");

    const Result ok = ombrix({ "load-package", "-f", "3F00/CF08", "--p1", "00", "--p2", "00", block, "--json" });
    ASSERT_EQ(ok.exit, kExitOk) << ok.err;
    EXPECT_EQ(ok.json()["activated"], true);
    EXPECT_EQ(sent().back(), "8020000008" + block);
}

TEST_F(PackageCommands, ApduOnTheCardsChannelSendsClass01AndClosesIt)
{
    demo_card(Model::R2);
    const Result r = ombrix({ "--trace", "apdu", "--channel", "auto", "00 A4 00 00 02 00 01", "00 B0 00 00 15" });
    ASSERT_EQ(r.exit, kExitOk) << r.err;
    const std::vector<std::string> expected { "00700000", "01A40000020001", "01B0000015", "01708001" };
    EXPECT_EQ(sent(), expected);
    EXPECT_HAS(r.out, "channel 1 opened\n> 01 A4 00 00 02 00 01\n");
    EXPECT_HAS(r.out, "channel 1 closed\n");
    EXPECT_HAS(r.err, "[Virtual PCD 00 00 ch1] > 01 B0 00 00 15");

    // The card keeps no channel open: it chooses channel 1 again.
    const Result json = ombrix({ "apdu", "--channel", "auto", "--json", "00 B0 00 00 02" });
    EXPECT_EQ(json.exit, kExitCardRefused) << "a new channel starts at the MF, with no current file";
    EXPECT_EQ(json.json()["channel"], 1);
    EXPECT_EQ(sent().back(), "01708001");
}

TEST_F(PackageCommands, ApduOnAChannelGivenMovesEveryClassAndClosesAfterAFailure)
{
    demo_card(Model::R2);
    // Channel 5: class 00 by the library (44), 0C by the tool (61); the
    // refused command stops the run, and the channel is closed all the same.
    const Result r = ombrix({ "apdu", "--channel", "5", "00 A4 00 00 02 00 01", "0C B0 00 00 04" });
    EXPECT_NE(r.exit, kExitOk);
    ASSERT_EQ(sent().size(), 4u);
    EXPECT_EQ(sent()[0], "00700005");
    EXPECT_EQ(sent()[1], "41A40000020001");
    EXPECT_EQ(sent()[2].substr(0, 2), "61");
    EXPECT_EQ(sent()[3], "41708005");
}

TEST_F(PackageCommands, ChannelRefusalsAreReportedAsSuch)
{
    // Opening refused: the hint names the channel package.
    auto card = scripted_reader(kReader0);
    card->expect("00700000", "6A81");
    const Result open = ombrix({ "apdu", "--channel", "auto", "00B0000001" });
    EXPECT_EQ(open.exit, kExitCardRefused);
    EXPECT_HAS(open.err, "opening a logical channel (the card's choice)");
    EXPECT_HAS(open.err, "4D43");

    // Every command succeeds but the close is refused: no success is reported.
    pcsc().reset();
    auto closing = scripted_reader(kReader0);
    closing->expect("00700002", "9000").expect("02B0000001", "AA 9000").expect("02708002", "6A88");
    const Result closed = ombrix({ "apdu", "--channel", "2", "--json", "00B0000001" });
    EXPECT_EQ(closed.exit, kExitCardRefused);
    EXPECT_HAS(closed.err, "closing logical channel 2");
    EXPECT_EQ(closed.json()["exit_status"], kExitCardRefused);
    EXPECT_TRUE(closing->script_done());
}

} // namespace
} // namespace ombrix::cli::test
