// What the session's translation units share: the PC/SC constants of every
// connection and a few conversions.
#pragma once

#include "platform/pcsc.h"

namespace ombrix::session {

constexpr DWORD kShareMode = SCARD_SHARE_SHARED;
constexpr DWORD kProtocols = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;

// Trace arguments: handles and codes print as 32-bit values.
inline unsigned hex32(long long value) { return static_cast<unsigned>(value); }

// pcsc-lite answers SCARD_E_NO_SMARTCARD for an empty reader where the
// original platform answers SCARD_W_REMOVED_CARD: both are the empty-reader
// outcome of a connect.
inline bool is_empty_reader(LONG result)
{
    return result == static_cast<LONG>(SCARD_W_REMOVED_CARD) ||
           result == static_cast<LONG>(SCARD_E_NO_SMARTCARD);
}

} // namespace ombrix::session
