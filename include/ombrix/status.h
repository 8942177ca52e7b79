// Status codes. Every card operation returns a long:
//   0                 success (the card answered 9000)
//   a PC/SC error     the exchange failed; the value as the platform returned it
//                     (pcsc-lite on 64-bit Linux: positive, e.g. 0x80100069)
//   SW1*256 + SW2     any other status word, warnings and 61xx / 6Cxx included
//   small negatives   the library's own failures, named below
#pragma once

#include "ombrix/export.h"

namespace ombrix {

// -- codes the card classes have always used
constexpr long OMBRIX_E_FAILED = -1;                // allocation failed, secure messaging refused, no reader
constexpr long OMBRIX_E_BAD_FILE_LENGTH = -104;     // a length-prefixed file does not fit (first generation)
constexpr long OMBRIX_E_BAD_SELECT_MODE = -105;     // selection mode not allowed
constexpr long OMBRIX_E_NO_MODEL = -200;            // no card model answered the model tests

// -- exchange (session)
constexpr long OMBRIX_E_SHORT_RESPONSE = -2;        // the reader returned fewer than 2 bytes: no status word
constexpr long OMBRIX_E_OVERSIZED_RESPONSE = -3;    // more data than the command can receive
constexpr long OMBRIX_E_BAD_STATUS_WORD = -4;       // SW1 is neither 6x nor 9x
constexpr long OMBRIX_E_NOT_CONNECTED = -5;         // no context or no card: nothing was sent
constexpr long OMBRIX_E_INVALID_ARGUMENT = -6;      // a null pointer or a length the command cannot carry
constexpr long OMBRIX_E_NO_MEMORY = -7;             // an allocation failed
constexpr long OMBRIX_E_BUFFER_TOO_SMALL = -8;      // the caller's buffer cannot hold the answer

// -- readers, selection and monitoring: -20 to -39
constexpr long OMBRIX_E_MONITOR_TABLE_FULL = -20;  // ten monitors run already: nothing started
constexpr long OMBRIX_E_READER_NAME_TOO_LONG = -21; // a reader name of 260 characters or more
constexpr long OMBRIX_E_NO_READER_NAME = -22;       // a null reader name
constexpr long OMBRIX_E_MONITOR_NO_READER = -23;    // the session has no connected reader or no context to watch it with
// -- secure messaging: -40 to -59
constexpr long OMBRIX_E_SM_DATA_TOO_LONG = -40;    // the protected command's Lc would pass 255: nothing wrapped or sent
constexpr long OMBRIX_E_SM_SHORT_ID_DATA = -41;    // identification data shorter than 16 bytes: no key derived
constexpr long OMBRIX_E_SM_BAD_CHALLENGE = -42;    // GET CHALLENGE answered another number of bytes than asked
constexpr long OMBRIX_E_SM_CRYPTO = -43;           // the triple-DES engine failed (out of memory, say): nothing sent
// -- second-generation commands: -60 to -89
constexpr long OMBRIX_E_R2_NO_LIFE_CYCLE = -60;    // GET DATA 01 83 answered 9000 without the life-cycle byte
constexpr long OMBRIX_E_R2_SHORT_DATA = -61;       // a data object shorter than the bytes the command reads from it
constexpr long OMBRIX_E_R2_DATA_TOO_LONG = -62;    // the command data cannot fit a one-byte Lc: nothing sent
constexpr long OMBRIX_E_R2_SHORT_READ = -63;       // READ BINARY answered 9000 with fewer bytes than the read needed
constexpr long OMBRIX_E_R2_OFFSET_LIMIT = -64;     // the transfer would pass offset FFFF of the file: nothing sent
constexpr long OMBRIX_E_R2_BAD_FCI = -65;          // the file's size object is empty or longer than 4 bytes
constexpr long OMBRIX_E_R2_FILE_TOO_LONG = -66;    // a length-prefixed file's content over 65535 bytes: nothing sent
constexpr long OMBRIX_E_R2_NO_CHALLENGE = -67;     // GET CHALLENGE kept answering 9000 without bytes
// -- first generation: -90 to -99
constexpr long OMBRIX_E_R1_SHORT_READ = -90;       // READ BINARY answered 9000 with fewer bytes than the read needed
constexpr long OMBRIX_E_R1_NO_LIFE_CYCLE = -91;    // GET DATA 01 83 answered 9000 without the life-cycle byte
constexpr long OMBRIX_E_R1_BAD_FILE_SIZE = -92;    // a file size outside 0 to 65535: nothing sent
constexpr long OMBRIX_E_R1_OFFSET_LIMIT = -93;     // the transfer would pass offset FFFF of the file: nothing sent
// -- personalization and R22: -110 to -139
constexpr long OMBRIX_E_PERSO_LIFE_CYCLE_00 = -110; // the card is in life-cycle phase 00, not the one the command needs: nothing sent
constexpr long OMBRIX_E_PERSO_NO_RECORD = -111;     // a descriptor record the command needs is missing: nothing sent
constexpr long OMBRIX_E_PERSO_FILE_TOO_LARGE = -112; // the file would pass 65535 bytes: nothing sent
// -- packages and channels: -140 to -159
constexpr long OMBRIX_E_CHANNEL_NO_NUMBER = -140;    // MANAGE CHANNEL answered 9000 without the number of the channel it opened
constexpr long OMBRIX_E_CHANNEL_OUT_OF_RANGE = -141; // a logical channel above 19: no class byte can carry it

// The text of any status code in words: PC/SC errors, ISO and card status
// words, the library's own codes ("security status not satisfied", "card
// removed"). Never null; the text is static.
OMBRIX_API const char* status_text(long status);
// The code's name: "SCARD_W_REMOVED_CARD", "6982", "OMBRIX_E_SHORT_RESPONSE",
// "0x80100099" for a PC/SC code without a name. Never null; the text is static
// or, for unnamed codes, thread-local and valid until the next call.
OMBRIX_API const char* status_name(long status);

// The version of the library in use, as "major.minor.patch" (the headers'
// OMBRIX_VERSION_STRING is the version an application was built against).
OMBRIX_API const char* version_string();

} // namespace ombrix
