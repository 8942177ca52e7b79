// The card object a card command works with: the tool reads the card's model
// (GET DATA 01 82) and drives a first-generation card (C8 01) through
// COmbrixR1, any other Ombrix card through COmbrixR2. Both share the tool's
// connection, so the exchange trace and the reader choice are the usual ones.
#pragma once

#include "ombrix/ombrix_r1.h"
#include "ombrix/ombrix_r2.h"
#include "tools/ombrix/card_info.h"
#include "tools/ombrix/tool.h"

#include <memory>
#include <string>

namespace ombrix::cli {

enum class Generation { first, second };

// C8 01 is the first generation; every other identifier (R2 to R23v, and
// models this tool does not know yet) the second.
Generation generation_of(const Bytes& model_id);

// The card in the chosen reader, with the card class that fits it.
class OpenCard {
public:
    // Connects, reads the model and makes the card object; ToolError when the
    // model cannot be read (not an Ombrix card, the card gone).
    OpenCard(Context& context, const ReaderOption& reader);
    ~OpenCard();
    OpenCard(const OpenCard&) = delete;
    OpenCard& operator=(const OpenCard&) = delete;

    const std::string& reader() const { return connection_->reader; }
    Generation generation() const { return generation_; }
    bool first_generation() const { return generation_ == Generation::first; }
    // "R1", "R2", ... or "C8 07" for an identifier the tool has no name for.
    const std::string& model() const { return model_; }

    COmbrixR1& r1();
    COmbrixR2& r2();

    // The SMFLAGS of --sm: null when not asked for; asking on the first
    // generation, which has no secure messaging, is a usage error.
    SMFLAGS* secure_messaging(bool wanted);
    // Refuses `what` on the first generation (a usage error naming the model).
    void require_second_generation(const std::string& what) const;
    void require_first_generation(const std::string& what) const;

private:
    Context& context_;
    std::unique_ptr<Connection> connection_;
    Generation generation_ = Generation::second;
    std::string model_;
    std::unique_ptr<COmbrixR1> r1_;
    std::unique_ptr<COmbrixR2> r2_;
    SMFLAGS flags_ { 1, 1 };
};

// The error of a library call made for `doing`: cause, code and exit status
// by the kind of command; with `protected_command`, the bridge's refusal (-1)
// is secure messaging refused (7).
ToolError card_error(std::string doing, long status, Operation op = Operation::general,
    bool protected_command = false);

// --sm, on every command that can be protected on the second generation.
void add_sm_flag(CLI::App& command, bool& sm);

// The build holds the shipped demonstration issuer constants (no
// OMBRIX_ISSUER_CONSTANTS of an integrator's own).
bool demonstration_issuer();
// In such a build, the one warning (once a run) that a card command is
// protected with the demonstration transport key or with a secure-messaging
// key derived from the demonstration master key.
void warn_demonstration_keys(Context& context);

} // namespace ombrix::cli
