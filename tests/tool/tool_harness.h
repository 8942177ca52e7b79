// The whole tool over the in-process PC/SC for the card-command tests: the
// command line in, exit status, standard output and standard error out, with
// standard input, the environment and a terminal on standard error as the
// test sets them.
#pragma once

#include "sim/card/ombrix_card.h"
#include "tests/support/pcsc_fixture.h"
#include "tests/tool/tool_test_util.h"
#include "tools/ombrix/exit_status.h"
#include "tools/ombrix/tool.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>
#include <unistd.h>

namespace ombrix::cli::test {

struct Result {
    int exit = -1;
    std::string out;
    std::string err;
    nlohmann::json json() const { return nlohmann::json::parse(out); }
};

constexpr const char* kReader0 = "Virtual PCD 00 00";
constexpr const char* kReader1 = "Virtual PCD 00 01";

class ToolHarness : public ombrix::test::PcscTest {
protected:
    void TearDown() override
    {
        if (!dir_.empty())
            std::filesystem::remove_all(dir_);
        PcscTest::TearDown();
    }

    // A directory of this test's own, made at first use and removed after it.
    std::string dir()
    {
        if (dir_.empty()) {
            dir_ = std::filesystem::path(::testing::TempDir())
                / ("ombrix-tool-" + std::to_string(::getpid()) + "-"
                    + ::testing::UnitTest::GetInstance()->current_test_info()->name());
            std::filesystem::remove_all(dir_);
            std::filesystem::create_directories(dir_);
        }
        return dir_.string();
    }
    std::string path(const std::string& name) { return (std::filesystem::path(dir()) / name).string(); }
    // Writes `text` to the file `name` of the test's directory; gives its path.
    std::string file(const std::string& name, const std::string& text)
    {
        const std::string p = path(name);
        std::ofstream(p, std::ios::binary) << text;
        return p;
    }
    static std::string read_back(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    Result ombrix(std::vector<std::string> args)
    {
        args.insert(args.begin(), "ombrix");
        std::vector<const char*> argv;
        for (const auto& a : args)
            argv.push_back(a.c_str());
        std::ostringstream out, err;
        std::istringstream in(input);
        ToolIo io { out, err, in,
            [this](const char* name) -> const char* {
                const auto it = env.find(name);
                return it == env.end() ? nullptr : it->second.c_str();
            },
            err_is_terminal };
        const int exit = run_tool(static_cast<int>(argv.size()), argv.data(), io);
        input.clear();
        return Result { exit, out.str(), err.str() };
    }

    // Reader 0 holds the card model's demo image of `model`.
    std::shared_ptr<ombrix::sim::OmbrixCard> demo_card(ombrix::sim::Model model)
    {
        std::shared_ptr<ombrix::sim::OmbrixCard> card
            = ombrix::sim::OmbrixCard::builtin(model, "demo");
        pcsc().add_reader(kReader0, card);
        return card;
    }

    // Reader 0 holds a scripted card that first answers the model query.
    std::shared_ptr<ombrix::sim::ScriptedCard> scripted(const char* model_id)
    {
        auto card = scripted_reader(kReader0);
        card->expect("00CA018202", std::string(model_id) + " 9000");
        return card;
    }

    std::map<std::string, std::string> env;
    std::string input; // standard input of the next run
    bool err_is_terminal = false;

private:
    std::filesystem::path dir_;
};

} // namespace ombrix::cli::test
