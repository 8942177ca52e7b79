#include "tools/ombrix/reader_choice.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace ombrix::cli {

namespace {

using Outcome = ReaderChoice::Outcome;

std::string lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::optional<std::size_t> as_index(std::string_view text)
{
    if (text.empty() || !std::all_of(text.begin(), text.end(),
                                     [](unsigned char c) { return std::isdigit(c) != 0; }))
        return std::nullopt;
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

ReaderChoice settle(ReaderChoice choice, std::vector<std::size_t> matches)
{
    if (matches.size() == 1) {
        choice.outcome = Outcome::chosen;
        choice.index = matches.front();
    } else {
        choice.outcome = matches.empty() ? Outcome::no_match : Outcome::ambiguous;
        choice.candidates = std::move(matches);
    }
    return choice;
}

} // namespace

ReaderChoice choose_reader(const std::vector<ReaderEntry>& readers,
                           const std::optional<std::string>& option, const char* environment)
{
    ReaderChoice choice;
    if (option) {
        choice.choice = *option;
        choice.source = "-r";
    } else if (environment != nullptr && *environment != '\0') {
        choice.choice = environment;
        choice.source = "OMBRIX_READER";
    }
    if (readers.empty()) {
        choice.outcome = Outcome::no_readers;
        return choice;
    }

    std::vector<std::size_t> matches;
    if (choice.source.empty()) {
        for (std::size_t i = 0; i < readers.size(); ++i)
            if (readers[i].card_present)
                matches.push_back(i);
        if (matches.empty()) {
            choice.outcome = Outcome::no_card;
            return choice;
        }
        return settle(std::move(choice), std::move(matches));
    }

    const std::string_view asked = choice.choice;
    if (const auto index = as_index(asked)) {
        if (*index < readers.size())
            matches.push_back(*index);
        return settle(std::move(choice), std::move(matches));
    }
    if (asked.starts_with('=')) {
        const std::string_view exact = asked.substr(1);
        for (std::size_t i = 0; i < readers.size(); ++i)
            if (readers[i].name == exact)
                matches.push_back(i);
        return settle(std::move(choice), std::move(matches));
    }
    const std::string needle = lower(asked);
    for (std::size_t i = 0; i < readers.size(); ++i)
        if (lower(readers[i].name).find(needle) != std::string::npos)
            matches.push_back(i);
    return settle(std::move(choice), std::move(matches));
}

std::string describe_failure(const ReaderChoice& choice, const std::vector<ReaderEntry>& readers)
{
    const std::string asked = "\"" + choice.choice + "\" (" + choice.source + ")";
    switch (choice.outcome) {
    case Outcome::chosen:
        return "reader " + std::to_string(choice.index) + " chosen";
    case Outcome::no_readers:
        return "no reader is connected";
    case Outcome::no_match:
        if (as_index(choice.choice))
            return asked + " is not a reader index: there are " + std::to_string(readers.size()) +
                   " readers (0 to " + std::to_string(readers.size() - 1) + ")";
        return asked + " matches no reader";
    case Outcome::ambiguous:
        if (choice.source.empty())
            return std::to_string(choice.candidates.size()) +
                   " readers hold a card; choose one with -r";
        return asked + " matches " + std::to_string(choice.candidates.size()) +
               " readers; choose one with -r (an index, or =NAME for the exact name)";
    case Outcome::no_card:
        return "no reader holds a card";
    }
    return "no reader chosen";
}

std::string list_candidates(const std::vector<ReaderEntry>& readers,
                            const std::vector<std::size_t>& indices)
{
    std::string out;
    for (const std::size_t i : indices) {
        if (i >= readers.size())
            continue;
        out += "  " + std::to_string(i) + "  " + readers[i].name +
               (readers[i].card_present ? "  (card)" : "  (empty)") + "\n";
    }
    return out;
}

} // namespace ombrix::cli
