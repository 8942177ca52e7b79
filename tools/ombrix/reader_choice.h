// Which reader a subcommand talks to, the same rules everywhere:
//   -r/--reader N       the reader at 0-based index N (as pcsc_scan numbers them)
//   -r/--reader TEXT    the one reader whose name contains TEXT, in any case
//   -r/--reader =NAME   the reader named exactly NAME
//   OMBRIX_READER       the same forms, when -r is not given
//   nothing             the only reader holding a card
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix::cli {

struct ReaderEntry {
    std::string name;
    bool card_present = false;
};

struct ReaderChoice {
    enum class Outcome {
        chosen,     // `index` is the reader
        no_readers, // the list is empty
        no_match,   // the choice names no reader
        ambiguous,  // the choice (or "the reader with a card") fits several: `candidates`
        no_card,    // no choice given and no reader holds a card
    };
    Outcome outcome = Outcome::no_readers;
    std::size_t index = 0;
    std::vector<std::size_t> candidates; // indices into the list
    std::string choice;                  // what was asked for ("" when nothing)
    std::string source;                  // "-r", "OMBRIX_READER" or "" (the default)
};

// `option` is the -r value when given; `environment` the OMBRIX_READER value
// (null or empty: unset). The option wins over the environment.
ReaderChoice choose_reader(const std::vector<ReaderEntry>& readers,
                           const std::optional<std::string>& option, const char* environment);

// One sentence on why no reader was taken ("\"virtual\" (-r) matches 2 readers").
std::string describe_failure(const ReaderChoice& choice, const std::vector<ReaderEntry>& readers);

// The lines that list readers for the user to choose from:
//   "  0  Virtual PCD 00 00  (card)"
std::string list_candidates(const std::vector<ReaderEntry>& readers,
                            const std::vector<std::size_t>& indices);

} // namespace ombrix::cli
