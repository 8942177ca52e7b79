// The platform's card-selection dialog, driven by the classic selection
// record. On Windows it is the system's (the selection-dialog library), when
// the library runs over the system's PC/SC; otherwise it is the library's own:
// the readers whose card matches a card type of the record's card-name list
// (ATR under mask, from the card database), chosen without asking when the
// flags allow, else through the installed presenter (ombrix/selection.h).
#pragma once

#include "platform/pcsc.h"

namespace ombrix::platform {

#ifndef SC_DLG_MINIMAL_UI
#  define SC_DLG_MINIMAL_UI 0x01 // ask only when the choice is not obvious
#endif
#ifndef SC_DLG_NO_UI
#  define SC_DLG_NO_UI 0x02      // never ask
#endif
#ifndef SC_DLG_FORCE_UI
#  define SC_DLG_FORCE_UI 0x04   // always ask
#endif

// The classic selection record, field for field (92 bytes where pointers and
// DWORD have 32 bits). The library fills the context, the card-name list,
// the reader and card buffers, the title and the flags; the dialog only
// selects here, it never connects, so the connect fields stay unused.
struct OPENCARDNAMEA {
    DWORD dwStructSize;
    void* hwndOwner;
    SCARDCONTEXT hSCardContext;
    LPSTR lpstrGroupNames;
    DWORD nMaxGroupNames;
    LPSTR lpstrCardNames; // names, each with its zero byte, one more zero at the end
    DWORD nMaxCardNames;  // characters of the list without that last zero
    const void* rgguidInterfaces;
    DWORD cguidInterfaces;
    LPSTR lpstrRdr; // receives the chosen reader's name
    DWORD nMaxRdr;
    LPSTR lpstrCard; // receives the chosen card's type name
    DWORD nMaxCard;
    LPCSTR lpstrTitle;
    DWORD dwFlags;
    void* pvUserData;
    DWORD dwShareMode;
    DWORD dwPreferredProtocols;
    DWORD dwActiveProtocol;
    void* lpfnConnect;
    void* lpfnCheck;
    void* lpfnDisconnect;
    SCARDHANDLE hCardHandle;
};
static_assert(sizeof(void*) != 4 || sizeof(DWORD) != 4 || sizeof(OPENCARDNAMEA) == 92);

// Runs the dialog: SCARD_S_SUCCESS with both names written, or
// SCARD_W_CANCELLED_BY_USER when the user (or, without a user, the flags)
// gave no single choice, or the PC/SC error that prevented it.
LONG select_card(OPENCARDNAMEA& record);

// The library's own dialog, with the same results.
LONG library_select_card(OPENCARDNAMEA& record);

// The platform's version as GetVersion gives it: major version in the low
// byte, minor in the next.
DWORD platform_version();

// Standard input is an interactive terminal.
bool stdin_is_terminal();

} // namespace ombrix::platform
