// PINs, the life cycle and the card's cryptography through the whole tool:
// the PIN never shows, refusals are exit 6 with the tries left, and each
// crypto command sends the APDUs of its library method.
#include "tests/tool/tool_harness.h"

#include <utility>

namespace ombrix::cli::test {
namespace {

using ombrix::sim::Model;

class PinCommands : public ToolHarness { };
class CryptoCommands : public ToolHarness { };

void expect_no_pin(const Result& r, const std::string& pin_hex, const std::string& pin)
{
    for (const std::string& shown : { pin_hex, pin }) {
        EXPECT_LACKS(r.out, shown);
        EXPECT_LACKS(r.err, shown);
    }
}

TEST_F(PinCommands, ThePinNeverShowsInOutputTraceOrJson)
{
    demo_card(Model::R2);
    input = "1234\n";
    const Result r = ombrix({ "--trace", "verify-pin", "--pin-stdin", "--json" });
    ASSERT_EQ(r.exit, kExitOk) << r.err;
    EXPECT_EQ(r.json()["ok"], true);
    EXPECT_EQ(r.json()["reference"], "01");
    EXPECT_HAS(r.err, "> 00 20 00 81 04 ** ** ** **");
    expect_no_pin(r, "31 32 33 34", "1234");

    env["CARD_PIN"] = "1234";
    const Result from_env = ombrix({ "--trace", "verify-pin", "--pin", "env:CARD_PIN" });
    EXPECT_EQ(from_env.exit, kExitOk) << from_env.err;
    EXPECT_EQ(from_env.out, "PIN 01 verified\n");
    expect_no_pin(from_env, "31 32 33 34", "1234");

    const Result literal = ombrix({ "verify-pin", "--pin", "1234" });
    EXPECT_EQ(literal.exit, kExitOk);
    EXPECT_HAS(literal.err, "warning: a PIN on the command line shows in the process list");
    expect_no_pin(literal, "31 32 33 34", "1234");
}

TEST_F(PinCommands, RefusedPinIsExitSixWithTheTriesLeft)
{
    auto card = scripted("C802");
    card->expect("0020008104 31313131", "63C2");
    input = "1111\n";
    const Result r = ombrix({ "verify-pin", "--pin-stdin", "--json" });
    EXPECT_EQ(r.exit, kExitAuthRefused);
    EXPECT_HAS(r.err, "ombrix: verifying PIN 01: verification failed: 2 tries left (63C2)");
    EXPECT_EQ(r.json()["ok"], false);
    EXPECT_EQ(r.json()["tries_left"], 2);
    EXPECT_EQ(r.json()["status"], "63C2");

    // The first generation's VERIFY, refused for another reason: still the card's word.
    pcsc().reset();
    card = scripted("C801");
    card->expect("0020008204 31313131", "6A88");
    input = "1111\n";
    const Result unknown = ombrix({ "verify-pin", "--ref", "2", "--pin-stdin" });
    EXPECT_EQ(unknown.exit, kExitAuthRefused);
    EXPECT_HAS(unknown.err, "(6A88)");
}

TEST_F(PinCommands, UnblockSendsTheCodeAndTheNewPinAndTheTraceMasksBoth)
{
    // Mode 00: the unblocking code and a new PIN in one command.
    auto card = scripted("C802");
    card->expect("002C00810C 3132333435363738 34333231", "9000");
    input = "12345678\n4321\n";
    const Result unblocked = ombrix({ "--trace", "unblock-pin", "--puk-stdin", "--new-pin-stdin" });
    ASSERT_EQ(unblocked.exit, kExitOk) << unblocked.err;
    EXPECT_HAS(unblocked.err, "> 00 2C 00 81 0C **");
    expect_no_pin(unblocked, "31 32 33 34 35 36 37 38", "12345678");
    expect_no_pin(unblocked, "34 33 32 31", "4321");
}

TEST_F(PinCommands, ChangePinSendsTheCurrentAndTheNewPin)
{
    auto card = scripted("C802");
    card->expect("0024008108 31323334 35363738", "9000");
    input = "1234\n5678\n";
    const Result r = ombrix({ "change-pin", "--pin-stdin", "--new-pin-stdin" });
    EXPECT_EQ(r.exit, kExitOk) << r.err;
    EXPECT_EQ(r.out, "PIN 01 changed\n");

    pcsc().reset();
    card = scripted("C801");
    card->expect("0024008108 31323334 35363738", "63C1");
    input = "1234\n5678\n";
    const Result first = ombrix({ "change-pin", "--pin-stdin", "--new-pin-stdin" });
    EXPECT_EQ(first.exit, kExitAuthRefused);
    EXPECT_HAS(first.err, "1 try left (63C1)");

    // New only: P1 01.
    pcsc().reset();
    card = scripted("C801");
    card->expect("0024018104 35363738", "9000");
    input = "5678\n";
    EXPECT_EQ(ombrix({ "change-pin", "--new-only", "--new-pin-stdin" }).exit, kExitOk);
}

TEST_F(PinCommands, LifecycleShowsAndSwitches)
{
    demo_card(Model::R2);
    const Result shown = ombrix({ "lifecycle" });
    EXPECT_EQ(shown.exit, kExitOk) << shown.err;
    EXPECT_EQ(shown.out, "life cycle: 10 (operational)\n");
    const Result switched = ombrix({ "lifecycle", "--switch", "--json" });
    ASSERT_EQ(switched.exit, kExitOk) << switched.err;
    EXPECT_EQ(switched.json()["life_cycle"], "20");
    EXPECT_EQ(switched.json()["switched_from"], "10");
    EXPECT_EQ(ombrix({ "lifecycle", "--switch" }).out,
        "life cycle: 20 (administration) -> 10 (operational)\n");

    pcsc().reset();
    auto r1 = scripted("C801");
    r1->expect("00CA0183", "6A88");
    const Result refused = ombrix({ "lifecycle" });
    EXPECT_EQ(refused.exit, kExitCardRefused);
    EXPECT_HAS(refused.err, "reading the life cycle in Virtual PCD 00 00: ");
}

TEST_F(CryptoCommands, SignSendsTheEnvironmentAndTheHash)
{
    auto card = scripted("C802");
    const std::string hash(40, '5');
    card->expect("0022F301", "9000")
        .expect("0022F1B603830105", "9000")
        .expect("002A9E9A14" + hash + "90", "C0FFEE 9000");
    input = std::string(20, '\x55');
    const Result r = ombrix({ "sign", "--key", "5", "--json" });
    ASSERT_EQ(r.exit, kExitOk) << r.err;
    EXPECT_EQ(r.json()["signature"], "C0FFEE");
    EXPECT_TRUE(card->script_done());

    pcsc().reset();
    card = scripted("C802");
    card->expect("0022F301", "6A88");
    input = std::string(20, '\x55');
    EXPECT_EQ(ombrix({ "sign", "--key", "5" }).exit, kExitCardRefused);
}

TEST_F(CryptoCommands, EncipherAndDecipherPutThePaddingIndicatorInFront)
{
    const std::string message = "48656C6C6F2C20636172640A";
    const std::string cryptogram(256, 'C');
    auto card = scripted("C802");
    bool first = true;
    for (const auto& [command, answer] : { std::pair { "002A86800D00" + message + "90", cryptogram },
             std::pair { "002A80868100" + cryptogram + "90", message },
             std::pair { "002A86800C" + message + "90", cryptogram } }) {
        if (!std::exchange(first, false))
            card->expect("00CA018202", "C802 9000"); // each run asks the model
        card->expect("0022F301", "9000").expect("0022F1B803830105", "9000").expect(command, answer + "9000");
    }
    const Result enc = ombrix({ "encrypt", "--key", "5", message, "--json" });
    ASSERT_EQ(enc.exit, kExitOk) << enc.err;
    EXPECT_EQ(enc.json()["data"], cryptogram);
    const Result dec = ombrix({ "decrypt", "--key", "5", cryptogram, "--json" });
    ASSERT_EQ(dec.exit, kExitOk) << dec.err;
    EXPECT_EQ(dec.json()["data"], message);
    EXPECT_EQ(ombrix({ "encrypt", "--key", "5", "--no-indicator", message }).exit, kExitOk);
    EXPECT_TRUE(card->script_done());
    // With the indicator, 254 bytes at most fit.
    EXPECT_EQ(ombrix({ "encrypt", "--key", "5", std::string(510, 'A') }).exit, kExitUsage);
}

TEST_F(CryptoCommands, ChallengeAndExternalAuthenticationWithTheDemoKey)
{
    demo_card(Model::R2);
    const Result challenge = ombrix({ "challenge", "--length", "16", "--json" });
    ASSERT_EQ(challenge.exit, kExitOk) << challenge.err;
    EXPECT_EQ(challenge.json()["challenge"].get<std::string>().size(), 32u);

    // Key 04 is "OMBRIX-DEMO-3DES".
    env["DEMO_KEY"] = "4F4D425249582D44454D4F2D33444553";
    const Result ok
        = ombrix({ "--trace", "external-auth", "--key", "4", "--key-value", "env:DEMO_KEY" });
    EXPECT_EQ(ok.exit, kExitOk) << ok.err;
    EXPECT_EQ(ok.out, "authenticated with key 04\n");
    EXPECT_LACKS(ok.err, "4F 4D 42 52"); // the key is never shown

    env["DEMO_KEY"] = "00112233445566778899AABBCCDDEEFF";
    const Result wrong = ombrix({ "external-auth", "--key", "4", "--key-value", "env:DEMO_KEY" });
    EXPECT_EQ(wrong.exit, kExitAuthRefused);
    env["DEMO_KEY"] = "0011";
    EXPECT_EQ(
        ombrix({ "external-auth", "--key", "4", "--key-value", "env:DEMO_KEY" }).exit, kExitUsage);
}

TEST_F(CryptoCommands, TripleDesOnTheFirstGenerationOnly)
{
    auto card = scripted("C801");
    card->expect("002241B804 83020804", "9000")
        .expect("002A868008 0001020304050607", "00 A1A2A3A4A5A6A7A8 9000");
    const Result r
        = ombrix({ "--hex", "packed", "3des", "encrypt", "--key", "4", "0001020304050607" });
    ASSERT_EQ(r.exit, kExitOk) << r.err;
    EXPECT_EQ(r.out, "00A1A2A3A4A5A6A7A8\n");
}

TEST_F(CryptoCommands, GenkeyAndBiometricMatch)
{
    auto card = scripted("C802");
    card->expect("00CA018301", "20 9000").expect("0046000008 20065009 00000018", "9000");
    const Result gen = ombrix({ "genkey", "--key", "6", "--public-file", "5009" });
    EXPECT_EQ(gen.exit, kExitOk) << gen.err;
    EXPECT_EQ(gen.out, "generated key pair 06; public key in 5009\n");
    EXPECT_EQ(
        ombrix({ "genkey", "--key", "6", "--public-file", "5009", "--exponent", "0101" }).exit,
        kExitUsage);

    // The demo template matches biometric reference 03.
    pcsc().reset();
    demo_card(Model::R2);
    std::string record(720, '\0');
    for (std::size_t i = 0; i < record.size(); ++i)
        record[i] = static_cast<char>(i * 7 + 3);
    const Result match = ombrix({ "verify-bio", "-i", file("bir.bin", record) });
    EXPECT_EQ(match.exit, kExitOk) << match.err;
    record[0] ^= 1;
    EXPECT_EQ(ombrix({ "verify-bio", "-i", file("bir.bin", record) }).exit, kExitAuthRefused);
    EXPECT_EQ(ombrix({ "verify-bio", "-i", file("bir.bin", "short") }).exit, kExitUsage);
}

} // namespace
} // namespace ombrix::cli::test
