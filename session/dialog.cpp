// The card-selection dialog: which reader to connect to, among those holding
// a card of a type registered for the library's crypto provider.
#include "ombrix/card_session.h"

#include "platform/card_db.h"
#include "platform/pcsc.h"
#include "platform/platform.h"
#include "platform/select_card.h"
#include "session/card_filter.h"
#include "session/session_internal.h"
#include "shell/trace.h"

#include <cstring>
#include <string>

using ombrix::session::hex32;

namespace ombrix::session {

std::string card_name_filter(const std::vector<platform::CardType>& types)
{
    std::string filter;
    for (const auto& type : types) {
        if (type.provider != kCryptoProvider || type.name.empty())
            continue;
        filter += type.name;
        filter.push_back('\0');
    }
    if (!filter.empty())
        filter.push_back('\0');
    return filter;
}

} // namespace ombrix::session

namespace {

constexpr DWORD kNameCapacity = 256;
constexpr const char* kTitle = "Ombrix API";
constexpr int kFirstVersionWithDialog = 5;

// The dialog's own context, released on every way out.
class DialogContext {
public:
    explicit DialogContext(SCARDCONTEXT context) : context_(context) {}
    ~DialogContext()
    {
        trace(1, "CONTEXT SCardReleaseContext 2 - 0x%08x\n", hex32(context_));
        ombrix::platform::pcsc().ReleaseContext(context_);
    }
    DialogContext(const DialogContext&) = delete;
    DialogContext& operator=(const DialogContext&) = delete;
    SCARDCONTEXT get() const { return context_; }

private:
    SCARDCONTEXT context_;
};

void fail_as_cancelled()
{
    ombrix::platform::set_last_error(static_cast<long>(SCARD_E_NO_SMARTCARD));
}

int run_dialog(char* reader_out, long* pLen, int bSilent)
{
    char reader[kNameCapacity] = {};
    char card[kNameCapacity] = {};
    trace(1, "\tSCardEstablishContext 2\n");
    SCARDCONTEXT established = 0;
    const LONG result =
        ombrix::platform::pcsc().EstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &established);
    if (result != SCARD_S_SUCCESS) {
        trace(1, "\tSCardEstablishContext Failed Error = %x\n", hex32(result));
        trace(1, "OUT -> SmartCardDialog\n");
        ombrix::platform::set_last_error(result);
        return 0;
    }
    const DialogContext context(established);

    // No database, or no type registered for the provider: any card is offered.
    const auto types = ombrix::platform::read_card_database(ombrix::platform::card_database_path());
    std::string filter = types ? ombrix::session::card_name_filter(*types) : std::string();

    ombrix::platform::OPENCARDNAMEA record{};
    record.dwStructSize = sizeof record;
    record.hSCardContext = context.get();
    record.lpstrCardNames = filter.empty() ? nullptr : filter.data();
    record.nMaxCardNames = filter.empty() ? 0 : static_cast<DWORD>(filter.size() - 1);
    record.lpstrRdr = reader;
    record.nMaxRdr = kNameCapacity;
    record.lpstrCard = card;
    record.nMaxCard = kNameCapacity;
    record.lpstrTitle = kTitle;
    record.dwFlags = bSilent ? SC_DLG_NO_UI : SC_DLG_MINIMAL_UI;

    const LONG chosen = ombrix::platform::select_card(record);
    if (chosen != SCARD_S_SUCCESS) {
        trace(1, "Failed SCardUIDlgSelectCard - %x\n", hex32(chosen));
        fail_as_cancelled();
        trace(1, "OUT -> SmartCardDialog Reader - SCARD_E_NO_SMARTCARD\n");
        return 0;
    }
    reader[kNameCapacity - 1] = '\0';
    card[kNameCapacity - 1] = '\0';
    trace(1, "\tReader: %s\n\tCard: %s\n", reader, card);
    const std::size_t length = std::strlen(reader);
    std::memcpy(reader_out, reader, length + 1);
    *pLen = static_cast<long>(length + 1);
    return 1;
}

} // namespace

int CCardSession::SmartCardDialog(char** ppReader, long* pLen, int bSilent)
{
    trace(1, "IN  -> SmartCardDialog(%s)\n", bSilent ? "SILENT" : "NON-SILENT");
    if (ppReader == nullptr || pLen == nullptr) {
        ombrix::platform::set_last_error(static_cast<long>(SCARD_E_INVALID_PARAMETER));
        trace(1, "OUT -> SmartCardDialog\n");
        return 0;
    }
    const DWORD version = ombrix::platform::platform_version();
    trace(1, "\tversion 0x%08x\n", hex32(version));
    if ((version & 0x0F) < kFirstVersionWithDialog) {
        // No dialog: Connect with a null name then takes the first usable reader.
        *ppReader = nullptr;
        *pLen = 0;
        trace(1, "OUT -> SmartCardDialog\n");
        return 1;
    }
    if (*ppReader == nullptr) {
        ombrix::platform::set_last_error(static_cast<long>(SCARD_E_INVALID_PARAMETER));
        trace(1, "OUT -> SmartCardDialog\n");
        return 0;
    }
    try {
        const int done = run_dialog(*ppReader, pLen, bSilent);
        if (done)
            trace(1, "OUT -> SmartCardDialog\n");
        return done;
    } catch (...) {
        trace(1, "OUT -> SmartCardDialog exception!!!\n");
        fail_as_cancelled();
        return 0;
    }
}
