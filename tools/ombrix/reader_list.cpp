#include "tools/ombrix/reader_list.h"

#include "platform/pcsc.h"
#include "platform/reader_names.h"

#include <algorithm>
#include <cstring>

namespace ombrix::cli {

namespace {

// The tool's own short-lived context for listing.
class ListingContext {
public:
    ListingContext() : api_(ombrix::platform::pcsc()) {}
    ~ListingContext()
    {
        if (established_)
            api_.ReleaseContext(context_);
    }
    ListingContext(const ListingContext&) = delete;
    ListingContext& operator=(const ListingContext&) = delete;

    LONG establish()
    {
        const LONG result = api_.EstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context_);
        established_ = result == SCARD_S_SUCCESS;
        return result;
    }
    SCARDCONTEXT get() const { return context_; }
    const ombrix::platform::PcscApi& api() const { return api_; }

private:
    const ombrix::platform::PcscApi& api_;
    SCARDCONTEXT context_ = 0;
    bool established_ = false;
};

LONG reader_names(const ListingContext& context, std::vector<std::string>& names)
{
    std::vector<char> multi;
    const LONG result = ombrix::platform::read_reader_names(context.api(), context.get(), multi);
    if (result == static_cast<LONG>(SCARD_E_NO_READERS_AVAILABLE))
        return SCARD_S_SUCCESS;
    if (result != SCARD_S_SUCCESS)
        return result;
    for (const char* name = multi.data(); *name != '\0'; name += std::strlen(name) + 1)
        names.emplace_back(name);
    return SCARD_S_SUCCESS;
}

} // namespace

long list_readers(std::vector<ReaderStatus>& readers)
{
    readers.clear();
    ListingContext context;
    if (const LONG result = context.establish(); result != SCARD_S_SUCCESS)
        return result;
    std::vector<std::string> names;
    if (const LONG result = reader_names(context, names); result != SCARD_S_SUCCESS)
        return result;
    if (names.empty())
        return 0;

    std::vector<SCARD_READERSTATEA> states(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        states[i] = {};
        states[i].szReader = names[i].c_str();
        states[i].dwCurrentState = SCARD_STATE_UNAWARE;
    }
    const LONG result = context.api().GetStatusChangeA(context.get(), 0, states.data(),
                                                       static_cast<DWORD>(states.size()));
    if (result != SCARD_S_SUCCESS && result != static_cast<LONG>(SCARD_E_TIMEOUT))
        return result;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const DWORD state = states[i].dwEventState;
        ReaderStatus status;
        status.name = names[i];
        status.card_present = (state & SCARD_STATE_PRESENT) != 0;
        status.in_use_exclusively = (state & SCARD_STATE_EXCLUSIVE) != 0;
        status.mute = (state & SCARD_STATE_MUTE) != 0;
        if (status.card_present) {
            const std::size_t n = std::min<std::size_t>(states[i].cbAtr, sizeof states[i].rgbAtr);
            status.atr.assign(states[i].rgbAtr, states[i].rgbAtr + n);
        }
        readers.push_back(std::move(status));
    }
    return 0;
}

std::vector<ReaderEntry> entries_of(const std::vector<ReaderStatus>& readers)
{
    std::vector<ReaderEntry> entries;
    for (const auto& r : readers)
        entries.push_back({r.name, r.card_present});
    return entries;
}

} // namespace ombrix::cli
