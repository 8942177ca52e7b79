// The outside world of one fuzz run: the in-process PC/SC, with a card whose
// answers are the input's records, and a PC/SC table in front of it that
// serves transmissions, and on request reader lists and status changes, from
// the same records.
#pragma once

#include "fuzz/harness/fuzz_input.h"
#include "sim/card.h"
#include "sim/pcsc/inproc_pcsc.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace ombrix::fuzz {

// A card that answers whatever the table in front of the PC/SC took from the
// input for the transmission in progress.
class FuzzCard : public sim::Card {
public:
    explicit FuzzCard(Bytes atr) : atr_(std::move(atr)) {}
    sim::Bytes atr() const override { return atr_; }
    void reset() override {}
    sim::Bytes transmit(std::span<const std::uint8_t>) override;
    void set_answer(Bytes answer);

private:
    Bytes atr_;
    std::mutex mutex_;
    Bytes answer_;
};

struct WorldOptions {
    // SCardListReaders answers the next record's bytes as the multi-string
    // (one record per call, so the list may change between the size query and
    // the read); an error record fails the call.
    bool scripted_reader_list = false;
    // SCardGetStatusChange fills each reader state from the next record:
    // per reader 4 bytes of event state (high first), an ATR length (at most
    // 36) and the ATR. An error record fails the wait; a removal record asks
    // the in-process PC/SC without waiting; no record ends the wait with
    // SCARD_E_NO_SERVICE.
    bool scripted_status = false;
};

class World {
public:
    // Starts a run over `input`, which outlives it until end(): the
    // in-process PC/SC is emptied, the library pointed at the fuzz table,
    // sleeping made instant and the fault plan installed.
    static World& begin(FuzzInput& input, WorldOptions options = {});
    static World& current();
    // Ends the run: no record is handed out any more.
    void end();

    // A reader with a card whose ATR is the next record (no card when the
    // record is not an answer or there is none). protocol: SCARD_PROTOCOL_T0 or _T1.
    sim::VirtualReader& add_card_reader(const std::string& name, unsigned long protocol);
    sim::VirtualReader& add_empty_reader(const std::string& name);

    // The next record (thread-safe).
    std::optional<Record> next();
    // Every card leaves its reader.
    void remove_cards();
    // What every card answers to the transmission in progress.
    void set_answer_all(const Bytes& answer);
    const WorldOptions& options() const { return options_; }
    // The index of the candidate the selection dialog's user picks (-1: cancel).
    static void set_choice(int choice);

private:
    std::mutex mutex_;
    FuzzInput* input_ = nullptr;
    WorldOptions options_;
    std::vector<std::pair<sim::VirtualReader*, std::shared_ptr<FuzzCard>>> cards_;
};

// The fuzz PC/SC table (what the library is pointed at during a run).
const platform::PcscApi& fuzz_pcsc_api();

} // namespace ombrix::fuzz
