// Card selection: how CCardSession::SmartCardDialog asks the user to choose
// when more than one reader holds a card of the registered types (or none
// does) and the dialog may ask.
//
// The dialog offers the readers whose card's ATR matches one of the card
// types registered for the library's crypto provider in the card database
// (any card when none is registered). The card database is a text file, read
// from the path in OMBRIX_CARD_DB, else /etc/ombrix/smartcards.conf; its
// format is described in data/smartcards.conf.
#pragma once

#include "ombrix/export.h"

namespace ombrix {

// One reader the user may choose, with the name of the card type found in it
// ("" for a card of no registered type, offered only when no type is
// registered). Both valid during the call only.
struct SelectionCandidate {
    const char* reader;
    const char* card;
};

// Asks the user to choose among `count` candidates (possibly none). Returns
// the index of the chosen candidate, or -1 to cancel (so does any index out of
// range). `title` is the dialog's title ("Ombrix API"). Called on the thread
// that called SmartCardDialog; must not throw.
using SelectionPresenter = int (*)(const char* title, const SelectionCandidate* candidates,
                                   int count, void* user);

// Installs the application's presenter, with `user` handed back to it on each
// call; null restores the default one, which asks on the terminal when
// standard input is a terminal and cancels otherwise.
OMBRIX_API void set_selection_presenter(SelectionPresenter presenter, void* user);

namespace platform {
// The calling thread's last error, where Windows keeps GetLastError():
// SCARD_E_NO_SMARTCARD after SmartCardDialog was cancelled.
OMBRIX_API long last_error();
} // namespace platform

} // namespace ombrix
