// The PIN sources later subcommands take their PINs from, and the progress line.
#include "tools/ombrix/pin_source.h"
#include "tools/ombrix/progress.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace ombrix::cli {
namespace {

struct PinWorld {
    std::map<std::string, std::string> env;
    std::istringstream input;
    std::ostringstream warnings;
    std::optional<std::string> typed;
    std::string prompted;

    PinIo io()
    {
        PinIo io;
        io.getenv = [this](const char* name) -> const char* {
            const auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        };
        io.input = &input;
        io.warnings = &warnings;
        io.prompt = [this](const std::string& prompt) {
            prompted = prompt;
            return typed;
        };
        return io;
    }
};

std::string text_of(const SecretBytes& pin) { return std::string(pin.bytes().begin(), pin.bytes().end()); }

std::optional<SecretBytes> read(PinWorld& world, const std::optional<std::string>& pin,
                                bool pin_stdin, std::string& error)
{
    const auto source = parse_pin_option(pin, pin_stdin, error);
    if (!source)
        return std::nullopt;
    return read_pin(*source, world.io(), "PIN", error);
}

TEST(PinSource, EachSourceAndItsFailure)
{
    PinWorld world;
    world.env["CARD_PIN"] = "1234";
    world.input.str("0000\r\nrest\n");
    world.typed = "5678";
    std::string error;
    EXPECT_EQ(text_of(*read(world, "env:CARD_PIN", false, error)), "1234");
    EXPECT_EQ(text_of(*read(world, "env:IGNORED", true, error)), "0000"); // --pin-stdin wins
    EXPECT_EQ(text_of(*read(world, std::nullopt, false, error)), "5678");
    EXPECT_EQ(world.prompted, "PIN: ");
    EXPECT_TRUE(world.warnings.str().empty());

    EXPECT_FALSE(read(world, "env:MISSING", false, error));
    EXPECT_NE(error.find("MISSING is not set"), std::string::npos);
    EXPECT_FALSE(read(world, "env:", false, error));
    EXPECT_NE(error.find("env:NAME"), std::string::npos);
    PinWorld nothing;
    EXPECT_FALSE(read(nothing, std::nullopt, true, error));
    EXPECT_NE(error.find("standard input ended"), std::string::npos);
    EXPECT_FALSE(read(nothing, std::nullopt, false, error)); // no terminal to prompt on
    EXPECT_NE(error.find("--pin-stdin"), std::string::npos);
}

TEST(Progress, RedrawsInPlaceOnATerminalOnlyAndEndsTheLine)
{
    std::ostringstream out;
    {
        Progress progress(out, true, "reading", 1000);
        progress.update(1); // 0 %
        progress.update(2); // still 0 %: no redraw
        progress.update(500);
        progress.update(1000);
    }
    const std::string s = out.str();
    EXPECT_NE(s.find("\rreading: 0% (1/1000)"), std::string::npos) << s;
    EXPECT_EQ(s.find("(2/1000)"), std::string::npos) << s;
    EXPECT_NE(s.find("\rreading: 50% (500/1000)"), std::string::npos);
    EXPECT_NE(s.find("\rreading: 100% (1000/1000)"), std::string::npos);
    EXPECT_EQ(s.back(), '\n');

    std::ostringstream quiet; // not a terminal: nothing at all
    {
        Progress progress(quiet, false, "reading", 100);
        progress.update(50);
        progress.update(100);
    }
    EXPECT_EQ(quiet.str(), "");
}

} // namespace
} // namespace ombrix::cli
