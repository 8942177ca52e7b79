// ombrix-sim: inserts a virtual Ombrix card into the vsmartcard virtual reader
// of a running pcscd, so that any PC/SC client sees it as a real card.
#include "tools/ombrix-sim/apdu_log.h"
#include "tools/ombrix-sim/card_setup.h"
#include "tools/ombrix-sim/signal_events.h"
#include "tools/ombrix-sim/sim_runner.h"
#include "tools/ombrix-sim/state_file.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <fstream>
#include <iostream>
#include <vector>

namespace ombrix::sim {
namespace {

constexpr std::uint16_t kVpcdPort = 35963;

// Passes every link and card event on to each of the sim's observers.
class Fanout : public LinkObserver, public RunnerHooks {
public:
    void add(LinkObserver* link, RunnerHooks* hooks)
    {
        if (link)
            links_.push_back(link);
        if (hooks)
            hooks_.push_back(hooks);
    }
    void control(std::uint8_t code) override
    {
        for (auto* o : links_)
            o->control(code);
    }
    void exchange(std::span<const std::uint8_t> c, std::span<const std::uint8_t> r) override
    {
        for (auto* o : links_)
            o->exchange(c, r);
    }
    void inserted() override
    {
        for (auto* h : hooks_)
            h->inserted();
    }
    void removed() override
    {
        for (auto* h : hooks_)
            h->removed();
    }
    void quiet() override
    {
        for (auto* h : hooks_)
            h->quiet();
    }

private:
    std::vector<LinkObserver*> links_;
    std::vector<RunnerHooks*> hooks_;
};

struct Options {
    std::string model;
    CardChoice card;
    RunnerOptions runner;
    double remove_after = 0;
    double reinsert_after = 0;
    std::size_t remove_after_apdus = 0;
    std::string log_path;
};

RunnerOptions::ms seconds(double s)
{
    return std::chrono::duration_cast<RunnerOptions::ms>(std::chrono::duration<double>(s));
}

void define_options(CLI::App& app, Options& o)
{
    app.add_option("--model", o.model, "card model: R1, R2, R21, R21v, R22, R23 or R23v")
        ->default_str("R2")
        ->check([](const std::string& v) {
            return parse_model(v) ? std::string{} : "unknown model " + v;
        });
    app.add_option("--image", o.card.image,
                   "demo, blank, or a card image FILE.json (kept up to date with the card)")
        ->capture_default_str();
    app.add_option("--serial", o.card.serial, "serial number in the card's identification data");
    app.add_option("--host", o.runner.host, "host of the virtual reader")->capture_default_str();
    app.add_option("--port", o.runner.port, "TCP port of the virtual reader")
        ->default_val(kVpcdPort)
        ->check(CLI::Range(1, 65535));
    app.add_option("--remove-after", o.remove_after,
                   "remove the card SECONDS after each insertion")
        ->check(CLI::PositiveNumber);
    app.add_option("--reinsert-after", o.reinsert_after,
                   "insert the card again SECONDS after each removal")
        ->check(CLI::PositiveNumber);
    app.add_option("--remove-after-apdus", o.remove_after_apdus,
                   "remove the card once, right after it has answered N command APDUs")
        ->check(CLI::PositiveNumber);
    app.add_option("--log", o.log_path, "APDU log: one line per command and per response, hex");
    app.footer("Signals: SIGUSR1 removes the card, SIGUSR2 inserts it again, "
               "SIGTERM and SIGINT stop.");
}

int run(const CLI::App& app, Options& o)
{
    if (app.count("--model"))
        o.card.model = parse_model(o.model);
    if (app.count("--remove-after"))
        o.runner.remove_after = seconds(o.remove_after);
    if (app.count("--reinsert-after"))
        o.runner.reinsert_after = seconds(o.reinsert_after);
    if (app.count("--remove-after-apdus"))
        o.runner.remove_after_apdus = o.remove_after_apdus;

    SignalEvents signals; // before anything else, so no stop request is lost
    if (!signals.ok()) {
        std::cerr << "ombrix-sim: cannot watch signals\n";
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);

    auto sim_card = make_sim_card(o.card, std::cerr);
    if (!sim_card)
        return 1;
    OmbrixCard& card = *sim_card->card;

    Fanout fanout;
    std::ofstream log_file;
    std::optional<ApduLog> apdu_log;
    if (!o.log_path.empty()) {
        log_file.open(o.log_path, std::ios::trunc);
        if (!log_file) {
            std::cerr << "ombrix-sim: cannot write the APDU log " << o.log_path << "\n";
            return 1;
        }
        apdu_log.emplace(log_file);
        fanout.add(&*apdu_log, &*apdu_log);
    }
    std::optional<StateFile> state;
    if (sim_card->state_file) {
        state.emplace(*sim_card->state_file, [&card] { return image_text(card); },
                      sim_card->saved, std::cerr);
        fanout.add(&*state, &*state);
        if (!state->save_if_changed()) // a new file is created at once
            return 1;
    }

    std::cerr << "ombrix-sim: " << model_name(card.model()) << " card (ATR "
              << hex_bytes(card.atr()) << "), image "
              << (sim_card->state_file ? sim_card->state_file->string() : o.card.image)
              << ", for the reader at " << o.runner.host << ":" << o.runner.port << std::endl;
    SimRunner runner(o.runner, card, signals, std::cerr, &fanout, &fanout);
    return runner.run();
}

} // namespace
} // namespace ombrix::sim

int main(int argc, char** argv)
{
    CLI::App app{"Inserts a virtual Ombrix card into the vsmartcard virtual reader (vpcd) of pcscd."};
    ombrix::sim::Options options;
    ombrix::sim::define_options(app, options);
    CLI11_PARSE(app, argc, argv);
    try {
        return ombrix::sim::run(app, options);
    } catch (const std::exception& e) {
        std::cerr << "ombrix-sim: " << e.what() << "\n";
        return 1;
    }
}
