// The library's own card-selection dialog and its presenters.
#include "platform/select_card.h"

#include "ombrix/selection.h"
#include "platform/card_db.h"
#include "platform/reader_names.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix::platform {

namespace {

struct Candidate {
    std::string reader;
    std::string card;
};

// Lists the candidates with their names and reads a number from standard input.
int terminal_presenter(const char* title, const SelectionCandidate* candidates, int count, void*)
{
    if (!stdin_is_terminal())
        return -1;
    std::fprintf(stderr, "%s\n", title ? title : "");
    if (count == 0) {
        std::fprintf(stderr, "No reader holds a card that can be used.\n");
        return -1;
    }
    for (int i = 0; i < count; ++i) {
        const char* card = candidates[i].card;
        std::fprintf(stderr, "  %d) %s%s%s%s\n", i + 1, candidates[i].reader,
                     *card ? " (" : "", card, *card ? ")" : "");
    }
    std::fprintf(stderr, "Reader [1-%d, empty to cancel]: ", count);
    std::fflush(stderr);
    char line[32];
    if (std::fgets(line, sizeof line, stdin) == nullptr)
        return -1;
    char* end = nullptr;
    const long choice = std::strtol(line, &end, 10);
    if (end == line || choice < 1 || choice > count)
        return -1;
    return static_cast<int>(choice - 1);
}

struct PresenterSlot {
    std::mutex mutex;
    SelectionPresenter presenter = nullptr; // null: the terminal
    void* user = nullptr;
};

PresenterSlot& presenter_slot()
{
    static PresenterSlot* slot = new PresenterSlot(); // outlives every caller
    return *slot;
}

// The names of the record's card-name list; empty when it gives none.
std::vector<std::string_view> card_names(const OPENCARDNAMEA& record)
{
    std::vector<std::string_view> names;
    if (record.lpstrCardNames == nullptr || record.nMaxCardNames == 0)
        return names;
    std::string_view list(record.lpstrCardNames, record.nMaxCardNames);
    while (!list.empty()) {
        const std::size_t end = std::min(list.find('\0'), list.size());
        if (end > 0)
            names.push_back(list.substr(0, end));
        list.remove_prefix(std::min(end + 1, list.size()));
    }
    return names;
}

// The type of the card with this ATR among `types`: the first that matches
// and that the list names (any, when the list names none).
const CardType* card_type_of(std::span<const std::uint8_t> atr, const std::vector<CardType>& types,
                             const std::vector<std::string_view>& wanted)
{
    for (const auto& type : types) {
        if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), type.name) == wanted.end())
            continue;
        if (type.matches(atr))
            return &type;
    }
    return nullptr;
}

// Every reader holding a card the record asks for, in the resource manager's order.
LONG find_candidates(const OPENCARDNAMEA& record, std::vector<Candidate>& out)
{
    const auto& api = pcsc();
    std::vector<char> readers;
    LONG result = read_reader_names(api, record.hSCardContext, readers);
    if (result == static_cast<LONG>(SCARD_E_NO_READERS_AVAILABLE))
        return SCARD_S_SUCCESS; // no reader: no candidate
    if (result != SCARD_S_SUCCESS)
        return result;

    std::vector<SCARD_READERSTATEA> states;
    for (const char* name = readers.data(); *name != '\0'; name += std::strlen(name) + 1) {
        SCARD_READERSTATEA state{};
        state.szReader = name;
        state.dwCurrentState = SCARD_STATE_UNAWARE;
        states.push_back(state);
    }
    if (states.empty())
        return SCARD_S_SUCCESS;
    result = api.GetStatusChangeA(record.hSCardContext, 0, states.data(),
                                  static_cast<DWORD>(states.size()));
    if (result != SCARD_S_SUCCESS)
        return result;

    const std::vector<std::string_view> wanted = card_names(record);
    const auto types = read_card_database(card_database_path());
    const std::vector<CardType> none;
    for (const auto& state : states) {
        if ((state.dwEventState & SCARD_STATE_PRESENT) == 0 ||
            (state.dwEventState & SCARD_STATE_MUTE) != 0)
            continue;
        const std::span<const std::uint8_t> atr(
            state.rgbAtr, std::min<std::size_t>(state.cbAtr, sizeof state.rgbAtr));
        const CardType* type = card_type_of(atr, types ? *types : none, wanted);
        if (type == nullptr && !wanted.empty())
            continue;
        out.push_back({state.szReader, type ? type->name : std::string()});
    }
    return SCARD_S_SUCCESS;
}

// The choice among the candidates: an index, or -1 for none.
int choose(const OPENCARDNAMEA& record, const std::vector<Candidate>& candidates)
{
    const int count = static_cast<int>(candidates.size());
    if (record.dwFlags & SC_DLG_NO_UI)
        return count == 1 ? 0 : -1;
    if ((record.dwFlags & SC_DLG_MINIMAL_UI) && !(record.dwFlags & SC_DLG_FORCE_UI) && count == 1)
        return 0;

    SelectionPresenter presenter = nullptr;
    void* user = nullptr;
    {
        PresenterSlot& slot = presenter_slot();
        std::lock_guard lock(slot.mutex);
        presenter = slot.presenter;
        user = slot.user;
    }
    if (presenter == nullptr)
        presenter = terminal_presenter;
    std::vector<SelectionCandidate> offered;
    offered.reserve(candidates.size());
    for (const auto& c : candidates)
        offered.push_back({c.reader.c_str(), c.card.c_str()});
    const int choice = presenter(record.lpstrTitle ? record.lpstrTitle : "", offered.data(), count, user);
    return choice >= 0 && choice < count ? choice : -1;
}

bool fits(const std::string& text, LPSTR buffer, DWORD capacity)
{
    return buffer != nullptr && text.size() < capacity;
}

} // namespace

LONG library_select_card(OPENCARDNAMEA& record)
{
    if (record.dwStructSize != sizeof(OPENCARDNAMEA))
        return SCARD_E_INVALID_PARAMETER;
    std::vector<Candidate> candidates;
    if (LONG error = find_candidates(record, candidates))
        return error;
    const int choice = choose(record, candidates);
    if (choice < 0)
        return SCARD_W_CANCELLED_BY_USER;
    const Candidate& chosen = candidates[static_cast<std::size_t>(choice)];
    if (!fits(chosen.reader, record.lpstrRdr, record.nMaxRdr) ||
        !fits(chosen.card, record.lpstrCard, record.nMaxCard))
        return SCARD_E_INSUFFICIENT_BUFFER;
    std::memcpy(record.lpstrRdr, chosen.reader.c_str(), chosen.reader.size() + 1);
    std::memcpy(record.lpstrCard, chosen.card.c_str(), chosen.card.size() + 1);
    return SCARD_S_SUCCESS;
}

} // namespace ombrix::platform

namespace ombrix {

void set_selection_presenter(SelectionPresenter presenter, void* user)
{
    platform::PresenterSlot& slot = platform::presenter_slot();
    std::lock_guard lock(slot.mutex);
    slot.presenter = presenter;
    slot.user = user;
}

} // namespace ombrix
