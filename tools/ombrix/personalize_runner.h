// Personalizing one card from a checked profile: the steps in their order
// (check the card, replace the transport key, FORMAT, the MF's conditions,
// the tree of DFs and EFs with their contents, PINs, keys and key
// generation, security environments, the digest-information prefix, the
// final phase), each one line of output, stopping at the first refusal with
// the step, the command and the status word, and what the card now holds.
//
// Secrets the profile names are read once, before any card is touched
// (ProfileSecrets); generated ones are made per card and written, mode 0600,
// before the card receives them. No secret reaches the output.
#pragma once

#include "tools/ombrix/card_link.h"
#include "tools/ombrix/exit_status.h"
#include "tools/ombrix/pin_source.h"
#include "tools/ombrix/profile.h"

#include <nlohmann/json_fwd.hpp>

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace ombrix::cli {

// The values of the profile's fixed secrets (inline, file, environment) and
// the transport keys, by the place of their source in the profile.
class ProfileSecrets {
public:
    // ToolError (usage) when a source has no value (variable unset, file
    // unreadable, wrong length or hex); `warnings` receives what should be
    // said about them (a secret file others may read).
    ProfileSecrets(const Profile& profile, const std::function<const char*(const char*)>& getenv,
                   std::ostream& warnings);

    const SecretBytes* value(const std::string& where) const;
    const SecretBytes& transport_key() const { return transport_key_; }
    const SecretBytes* new_transport_key() const { return new_transport_key_ ? &*new_transport_key_ : nullptr; }

private:
    std::map<std::string, SecretBytes> values_;
    SecretBytes transport_key_;
    std::optional<SecretBytes> new_transport_key_;
};

struct RunOptions {
    // Nothing is written to files (generated secrets, exported keys): the
    // run only shows what it would do.
    bool dry_run = false;
    // Output files (generated secrets, exported public keys) go here;
    // "{uid}" in their names becomes the card's UID.
    std::string output_dir = ".";
    // Each line of output (one per step); the caller adds the reader in
    // front when several cards run at once. Called from the card's thread.
    std::function<void(const std::string&)> line;
    // Called after each step with the steps done and their total (progress).
    std::function<void(std::size_t done, std::size_t total)> progress;
};

struct CardResult {
    std::string reader;
    std::string uid;   // bytes 10 to 15 of the identification data, hex; empty when not read
    bool skipped = false; // not a blank card of the profile's model (--all-readers leaves it)
    std::optional<ToolError> error;
    std::string failed_step;  // the step's description, when one failed
    std::string holds;        // what the card holds after the run
    std::size_t steps_done = 0;
    std::size_t steps_total = 0;
    double elapsed_s = 0;

    int exit_status() const { return error ? error->exit : kExitOk; }
    // One line of the --report file.
    nlohmann::json report_line() const;
};

// Personalizes the card behind `session` (connected) in `reader`. With
// `skip_foreign`, a card that is not blank or not of the profile's model is
// left alone and reported as skipped instead of failing.
CardResult personalize_card(ToolSession& session, const std::string& reader, const Profile& profile,
                            const ProfileSecrets& secrets, const RunOptions& options, bool skip_foreign = false);

// Writes a secret to a new file that only its owner may read (0600); a file
// already there is not overwritten. ToolError on failure.
void write_secret_file(const std::string& path, const std::string& text);

// `name` with "{uid}" replaced by `uid`.
std::string with_uid(std::string name, const std::string& uid);

} // namespace ombrix::cli
