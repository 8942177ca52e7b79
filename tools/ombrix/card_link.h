// How the tool's card work reaches a card: an abstract sender (scripts and the
// card information run over it, tests give their own), and the library's
// session behind it.
#pragma once

#include "ombrix/card_session.h"
#include "tools/ombrix/command_apdu.h"

#include <cstdint>

namespace ombrix::cli {

struct Answer {
    Bytes data;
    std::uint16_t sw = 0;
};

class CardLink {
public:
    virtual ~CardLink() = default;
    // 0 when the exchange took place (whatever the status word), else the
    // library's failure code; `answer` is written only on 0.
    virtual long transmit(CommandApdu& command, Answer& answer) = 0;
    // Resets the card (the connection stays); 0 or the failure.
    virtual long reset() = 0;
};

// CCardSession as the tool uses it: a connection it opened is closed again
// when it goes (the base only releases the context), and the card can be reset.
class ToolSession : public CCardSession {
public:
    ToolSession() = default;
    ToolSession(const ToolSession&) = delete;
    ToolSession& operator=(const ToolSession&) = delete;
    ~ToolSession() override;

    bool connected() const { return m_hCard != 0; }
    // Reconnects with a card reset (SCARD_RESET_CARD); 0 or the PC/SC error.
    long reset_card();
};

// Every exchange through the session's five-argument Send.
class SessionLink final : public CardLink {
public:
    explicit SessionLink(ToolSession& session) : session_(session) {}
    long transmit(CommandApdu& command, Answer& answer) override;
    long reset() override { return session_.reset_card(); }

private:
    ToolSession& session_;
};

} // namespace ombrix::cli
