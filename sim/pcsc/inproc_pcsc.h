// The in-process PC/SC: every SCard* call the library makes, served by virtual
// readers that live in the test process. A reader is empty, holds a card, or
// is held exclusively by someone else; any call can be made to fail; every
// APDU is recorded exactly as transmitted.
#pragma once

#include "sim/card.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix::platform {
struct PcscApi;
}

namespace ombrix::sim {

enum class PcscCall {
    EstablishContext, ReleaseContext, ListReaders, Connect, Reconnect, Disconnect,
    BeginTransaction, EndTransaction, Transmit, GetAttrib, GetStatusChange, Cancel,
    FreeMemory, Status,
};
constexpr int kPcscCallCount = static_cast<int>(PcscCall::Status) + 1;
std::string_view call_name(PcscCall call);

// One SCardTransmit as the card saw it.
struct Exchange {
    std::string reader;
    Bytes command;          // bytes exactly as transmitted
    Bytes response;         // what the card answered (empty when the call failed)
    unsigned long pci = 0;  // dwProtocol of the send PCI the library passed
    long result = 0;        // what SCardTransmit returned
};

class VirtualReader {
public:
    explicit VirtualReader(std::string name) : name_(std::move(name)) {}
    const std::string& name() const { return name_; }

    // A card enters the field / leaves it. Connections to the old card are
    // invalidated (their next call answers SCARD_W_REMOVED_CARD).
    void insert(std::shared_ptr<Card> card);
    void remove();
    bool has_card() const;
    std::shared_ptr<Card> card() const;

    // Another application holds the reader exclusively: connects answer
    // SCARD_E_SHARING_VIOLATION.
    void set_held_exclusively(bool held);
    // The protocol the card negotiates (SCARD_PROTOCOL_T1 by default).
    void set_protocol(unsigned long protocol);
    void set_vendor(std::string vendor);
    // Another application reset the card: every open connection's next call
    // answers SCARD_W_RESET_CARD until it reconnects.
    void reset_card();
    // The reader's state cannot be had (the reader went away, say): waits on it
    // report SCARD_STATE_UNAVAILABLE | SCARD_STATE_IGNORE.
    void set_unavailable(bool unavailable);

    // The reader's state, read and written by the PC/SC entry points under
    // the in-process PC/SC's lock. Tests use the operations above.
    std::string name_;
    std::shared_ptr<Card> card_;
    unsigned card_generation_ = 0; // grows with each insert/remove
    unsigned event_count_ = 0;     // the upper 16 bits of dwEventState, as pcsc-lite keeps them
    bool exclusive_ = false;
    bool unavailable_ = false;
    unsigned long protocol_ = 0;   // 0: T=1
    std::string vendor_ = "Ombrix Virtual";
};

class InprocPcsc {
public:
    static constexpr int kAlways = -1;

    // The one in-process PC/SC of the test process.
    static InprocPcsc& instance();

    // Back to nothing: no readers, no faults, empty log, every handle gone.
    void reset();

    VirtualReader& add_reader(std::string name);
    VirtualReader& reader(std::string_view name);
    // One line to put a card in a new reader.
    VirtualReader& add_reader(std::string name, std::shared_ptr<Card> card);

    // Fault injection: the next `times` calls of `call` answer `error`
    // (kAlways: every call from now on). With `skip`, that many calls succeed first.
    void fail(PcscCall call, long error, int times = 1, int skip = 0);
    void clear_faults();

    // The service stops: every call answers SCARD_E_NO_SERVICE and pending
    // waits end with SCARD_E_SERVICE_STOPPED. start_service() undoes it.
    void stop_service();
    void start_service();

    // Observation.
    std::vector<Exchange> exchanges() const;
    Bytes last_command() const;
    int calls(PcscCall call) const;
    int open_contexts() const;
    int open_handles() const;
    int open_transactions() const;
    int outstanding_allocations() const; // SCARD_AUTOALLOCATE buffers not yet freed

    // A hook run inside SCardGetStatusChange before it blocks (tests use it to
    // insert or remove a card at a precise point), and one run after each
    // transmit. Both run with no lock held.
    void on_wait(std::function<void(const std::string& reader)> hook);
    void on_transmit(std::function<void(const Exchange&)> hook);

    // -- the implementation behind the SCard* entry points (used by the PC/SC table)
    struct Impl;
    Impl& impl() { return *impl_; }

private:
    InprocPcsc();
    std::unique_ptr<Impl> impl_;
};

// The SCard* entry points of the in-process PC/SC, as a table the library can
// be pointed at (platform::use_pcsc). Test executables get it as their
// platform PC/SC without asking.
const platform::PcscApi& inproc_pcsc_api();

// A card that answers from a script: expected commands with canned answers.
// An unexpected command is answered 6F00 and noted in errors().
class ScriptedCard : public Card {
public:
    explicit ScriptedCard(Bytes atr = default_atr());
    static Bytes default_atr();

    // The next command must be `command_hex` (spaces allowed); it gets `response_hex`.
    ScriptedCard& expect(std::string_view command_hex, std::string_view response_hex);
    // The next command, whatever it is, gets `response_hex`.
    ScriptedCard& answer(std::string_view response_hex);
    // Once the script is used up, answer everything with this (default: none,
    // which makes any further command an error).
    ScriptedCard& otherwise(std::string_view response_hex);

    Bytes atr() const override { return atr_; }
    void reset() override { ++resets_; }
    Bytes transmit(std::span<const std::uint8_t> command) override;

    const std::vector<Bytes>& received() const { return received_; }
    const std::vector<std::string>& errors() const { return errors_; }
    bool script_done() const { return next_ == steps_.size(); }
    int resets() const { return resets_; }

private:
    struct Step {
        bool any;
        Bytes command;
        Bytes response;
    };
    Bytes atr_;
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    bool has_otherwise_ = false;
    Bytes otherwise_;
    std::vector<Bytes> received_;
    std::vector<std::string> errors_;
    int resets_ = 0;
};

// Hex helpers for tests: "00 A4 00 00" <-> bytes (spaces optional).
Bytes hex(std::string_view text);
std::string to_hex(std::span<const std::uint8_t> bytes); // "00A40000"

} // namespace ombrix::sim
