// Status codes in words, for the tool's messages and for applications.
#include "ombrix/status.h"
#include "ombrix/version.h"

#include <cstdint>
#include <cstdio>

namespace ombrix {

namespace {

struct Entry {
    // PC/SC codes are written as the platforms define them, 32-bit values
    // above 0x7FFFFFFF; where `long` has 32 bits they read negative, as the
    // status codes the library returns do.
    constexpr Entry(std::int64_t value, const char* name_, const char* text_)
        : code(static_cast<long>(value)), name(name_), text(text_)
    {
    }
    long code;
    const char* name;
    const char* text;
};

// PC/SC errors as pcsc-lite and WinSCard define them (32-bit values).
constexpr Entry kPcsc[] = {
    {0x80100001, "SCARD_F_INTERNAL_ERROR", "internal error in the PC/SC service"},
    {0x80100002, "SCARD_E_CANCELLED", "the action was cancelled"},
    {0x80100003, "SCARD_E_INVALID_HANDLE", "invalid PC/SC handle"},
    {0x80100004, "SCARD_E_INVALID_PARAMETER", "invalid parameter"},
    {0x80100005, "SCARD_E_INVALID_TARGET", "invalid target"},
    {0x80100006, "SCARD_E_NO_MEMORY", "the PC/SC service is out of memory"},
    {0x80100007, "SCARD_F_WAITED_TOO_LONG", "waited too long"},
    {0x80100008, "SCARD_E_INSUFFICIENT_BUFFER", "buffer too small for the answer"},
    {0x80100009, "SCARD_E_UNKNOWN_READER", "unknown reader"},
    {0x8010000A, "SCARD_E_TIMEOUT", "timed out"},
    {0x8010000B, "SCARD_E_SHARING_VIOLATION", "the reader is in use by another application"},
    {0x8010000C, "SCARD_E_NO_SMARTCARD", "no card in the reader"},
    {0x8010000D, "SCARD_E_UNKNOWN_CARD", "unknown card"},
    {0x8010000E, "SCARD_E_CANT_DISPOSE", "cannot dispose of the card"},
    {0x8010000F, "SCARD_E_PROTO_MISMATCH", "protocol mismatch"},
    {0x80100010, "SCARD_E_NOT_READY", "the reader or card is not ready"},
    {0x80100011, "SCARD_E_INVALID_VALUE", "invalid value"},
    {0x80100012, "SCARD_E_SYSTEM_CANCELLED", "cancelled by the system"},
    {0x80100013, "SCARD_F_COMM_ERROR", "communication error with the PC/SC service"},
    {0x80100014, "SCARD_F_UNKNOWN_ERROR", "unknown internal error"},
    {0x80100015, "SCARD_E_INVALID_ATR", "invalid ATR"},
    {0x80100016, "SCARD_E_NOT_TRANSACTED", "transaction failed"},
    {0x80100017, "SCARD_E_READER_UNAVAILABLE", "reader unavailable"},
    {0x8010001D, "SCARD_E_NO_SERVICE", "the PC/SC service is not running"},
    {0x8010001E, "SCARD_E_SERVICE_STOPPED", "the PC/SC service stopped"},
    {0x8010001F, "SCARD_E_UNEXPECTED", "unexpected PC/SC error"},
    {0x8010002E, "SCARD_E_NO_READERS_AVAILABLE", "no reader available"},
    {0x80100065, "SCARD_W_UNSUPPORTED_CARD", "unsupported card"},
    {0x80100066, "SCARD_W_UNRESPONSIVE_CARD", "the card does not respond"},
    {0x80100067, "SCARD_W_UNPOWERED_CARD", "the card is not powered"},
    {0x80100068, "SCARD_W_RESET_CARD", "the card was reset"},
    {0x80100069, "SCARD_W_REMOVED_CARD", "card removed"},
};

constexpr Entry kLibrary[] = {
    {OMBRIX_E_FAILED, "OMBRIX_E_FAILED", "the operation failed in the library"},
    {OMBRIX_E_SHORT_RESPONSE, "OMBRIX_E_SHORT_RESPONSE", "the reader returned no status word"},
    {OMBRIX_E_OVERSIZED_RESPONSE, "OMBRIX_E_OVERSIZED_RESPONSE",
     "the card returned more data than the command can receive"},
    {OMBRIX_E_BAD_STATUS_WORD, "OMBRIX_E_BAD_STATUS_WORD", "the card returned an invalid status word"},
    {OMBRIX_E_NOT_CONNECTED, "OMBRIX_E_NOT_CONNECTED", "not connected to a card"},
    {OMBRIX_E_INVALID_ARGUMENT, "OMBRIX_E_INVALID_ARGUMENT", "invalid argument"},
    {OMBRIX_E_NO_MEMORY, "OMBRIX_E_NO_MEMORY", "out of memory"},
    {OMBRIX_E_BUFFER_TOO_SMALL, "OMBRIX_E_BUFFER_TOO_SMALL", "the buffer is too small"},
    {OMBRIX_E_BAD_FILE_LENGTH, "OMBRIX_E_BAD_FILE_LENGTH", "the length (or mode) does not fit the command"},
    {OMBRIX_E_BAD_SELECT_MODE, "OMBRIX_E_BAD_SELECT_MODE", "selection mode not allowed"},
    {OMBRIX_E_NO_MODEL, "OMBRIX_E_NO_MODEL", "the card model is not recognised"},
    {OMBRIX_E_SM_DATA_TOO_LONG, "OMBRIX_E_SM_DATA_TOO_LONG",
     "the command data are too long to be sent with secure messaging"},
    {OMBRIX_E_SM_SHORT_ID_DATA, "OMBRIX_E_SM_SHORT_ID_DATA",
     "the card's identification data are too short to derive its key"},
    {OMBRIX_E_SM_BAD_CHALLENGE, "OMBRIX_E_SM_BAD_CHALLENGE",
     "the card's challenge has the wrong length"},
    {OMBRIX_E_SM_CRYPTO, "OMBRIX_E_SM_CRYPTO", "the triple-DES engine failed"},
    {OMBRIX_E_R2_NO_LIFE_CYCLE, "OMBRIX_E_R2_NO_LIFE_CYCLE",
     "the card answered without its life-cycle byte"},
    {OMBRIX_E_R2_SHORT_DATA, "OMBRIX_E_R2_SHORT_DATA",
     "a data object is shorter than the command reads from it"},
    {OMBRIX_E_R2_DATA_TOO_LONG, "OMBRIX_E_R2_DATA_TOO_LONG",
     "the command data do not fit one command"},
    {OMBRIX_E_R2_SHORT_READ, "OMBRIX_E_R2_SHORT_READ",
     "the card returned fewer bytes than the read asked for"},
    {OMBRIX_E_R2_OFFSET_LIMIT, "OMBRIX_E_R2_OFFSET_LIMIT",
     "the transfer would pass the last offset a command can address"},
    {OMBRIX_E_R2_BAD_FCI, "OMBRIX_E_R2_BAD_FCI",
     "the card's file control information holds no readable file size"},
    {OMBRIX_E_R2_FILE_TOO_LONG, "OMBRIX_E_R2_FILE_TOO_LONG",
     "the content is longer than a length-prefixed file can hold"},
    {OMBRIX_E_R2_NO_CHALLENGE, "OMBRIX_E_R2_NO_CHALLENGE",
     "the card answered GET CHALLENGE without a challenge"},
    {OMBRIX_E_PERSO_LIFE_CYCLE_00, "OMBRIX_E_PERSO_LIFE_CYCLE_00",
     "the card is in life-cycle phase 00, where the command cannot run"},
    {OMBRIX_E_PERSO_NO_RECORD, "OMBRIX_E_PERSO_NO_RECORD",
     "a descriptor record the command needs is missing"},
    {OMBRIX_E_PERSO_FILE_TOO_LARGE, "OMBRIX_E_PERSO_FILE_TOO_LARGE",
     "the file would be larger than 65535 bytes"},
    {OMBRIX_E_CHANNEL_NO_NUMBER, "OMBRIX_E_CHANNEL_NO_NUMBER",
     "the card opened a logical channel without saying which"},
    {OMBRIX_E_CHANNEL_OUT_OF_RANGE, "OMBRIX_E_CHANNEL_OUT_OF_RANGE",
     "the logical channel is above 19"},
    {OMBRIX_E_MONITOR_TABLE_FULL, "OMBRIX_E_MONITOR_TABLE_FULL", "ten card monitors run already"},
    {OMBRIX_E_READER_NAME_TOO_LONG, "OMBRIX_E_READER_NAME_TOO_LONG",
     "the reader name is 260 characters or longer"},
    {OMBRIX_E_NO_READER_NAME, "OMBRIX_E_NO_READER_NAME", "no reader name given"},
    {OMBRIX_E_MONITOR_NO_READER, "OMBRIX_E_MONITOR_NO_READER",
     "the session has no connected reader to watch"},
    {OMBRIX_E_R1_SHORT_READ, "OMBRIX_E_R1_SHORT_READ",
     "the card returned fewer bytes than the read asked for"},
    {OMBRIX_E_R1_NO_LIFE_CYCLE, "OMBRIX_E_R1_NO_LIFE_CYCLE", "the card returned no life-cycle state"},
    {OMBRIX_E_R1_BAD_FILE_SIZE, "OMBRIX_E_R1_BAD_FILE_SIZE", "the file size is outside 0 to 65535"},
    {OMBRIX_E_R1_OFFSET_LIMIT, "OMBRIX_E_R1_OFFSET_LIMIT",
     "the transfer would pass the last offset a command can address"},
};

// ISO/IEC 7816-4 status words; SW1-only entries (low byte 0xFF) cover a family.
constexpr Entry kStatusWords[] = {
    {0x6281, "6281", "part of the returned data may be corrupted"},
    {0x6282, "6282", "end of file reached before Le bytes"},
    {0x6283, "6283", "selected file invalidated"},
    {0x62FF, "62xx", "warning: state of non-volatile memory unchanged"},
    {0x6300, "6300", "verification failed"},
    {0x63C0, "63C0", "verification failed: no try left"},
    {0x63C1, "63C1", "verification failed: 1 try left"},
    {0x63C2, "63C2", "verification failed: 2 tries left"},
    {0x63C3, "63C3", "verification failed: 3 tries left"},
    {0x63C4, "63C4", "verification failed: 4 tries left"},
    {0x63C5, "63C5", "verification failed: 5 tries left"},
    {0x63C6, "63C6", "verification failed: 6 tries left"},
    {0x63C7, "63C7", "verification failed: 7 tries left"},
    {0x63C8, "63C8", "verification failed: 8 tries left"},
    {0x63C9, "63C9", "verification failed: 9 tries left"},
    {0x63CA, "63CA", "verification failed: 10 tries left"},
    {0x63CB, "63CB", "verification failed: 11 tries left"},
    {0x63CC, "63CC", "verification failed: 12 tries left"},
    {0x63CD, "63CD", "verification failed: 13 tries left"},
    {0x63CE, "63CE", "verification failed: 14 tries left"},
    {0x63CF, "63CF", "verification failed: 15 tries left"},
    {0x6381, "6381", "file filled up by the last write"},
    {0x63FF, "63xx", "warning: state of non-volatile memory changed"},
    {0x6400, "6400", "execution error: memory unchanged"},
    {0x6581, "6581", "memory failure"},
    {0x65FF, "65xx", "execution error: memory changed"},
    {0x6700, "6700", "wrong length"},
    {0x6881, "6881", "logical channel not supported"},
    {0x6882, "6882", "secure messaging not supported"},
    {0x6883, "6883", "last command of the chain expected"},
    {0x6884, "6884", "command chaining not supported"},
    {0x6981, "6981", "command incompatible with the file structure"},
    {0x6982, "6982", "security status not satisfied"},
    {0x6983, "6983", "authentication method blocked"},
    {0x6984, "6984", "reference data not usable"},
    {0x6985, "6985", "conditions of use not satisfied"},
    {0x6986, "6986", "command not allowed: no current file"},
    {0x6987, "6987", "expected secure messaging data objects missing"},
    {0x6988, "6988", "incorrect secure messaging data objects"},
    {0x6A80, "6A80", "incorrect data in the command"},
    {0x6A81, "6A81", "function not supported"},
    {0x6A82, "6A82", "file or application not found"},
    {0x6A83, "6A83", "record not found"},
    {0x6A84, "6A84", "not enough memory in the file"},
    {0x6A86, "6A86", "incorrect parameters P1-P2"},
    {0x6A87, "6A87", "Lc inconsistent with P1-P2"},
    {0x6A88, "6A88", "referenced data not found"},
    {0x6A89, "6A89", "file already exists"},
    {0x6A8A, "6A8A", "DF name already exists"},
    {0x6B00, "6B00", "wrong parameters P1-P2"},
    {0x6D00, "6D00", "instruction not supported"},
    {0x6E00, "6E00", "class not supported"},
    {0x6F00, "6F00", "no precise diagnosis"},
    {0x61FF, "61xx", "more response bytes available"},
    {0x6CFF, "6Cxx", "wrong Le: the card gives the exact length"},
    {0x69FF, "69xx", "command not allowed"},
    {0x6AFF, "6Axx", "wrong parameters"},
    {0x68FF, "68xx", "function in the class byte not supported"},
};

const Entry* find(const Entry* begin, const Entry* end, long code)
{
    for (const Entry* e = begin; e != end; ++e)
        if (e->code == code)
            return e;
    return nullptr;
}

template <std::size_t N> const Entry* find(const Entry (&table)[N], long code)
{
    return find(table, table + N, code);
}

const Entry* lookup(long status, bool& is_sw)
{
    is_sw = false;
    // PC/SC codes arrive as the platform's LONG: positive on 64-bit pcsc-lite,
    // negative where long has 32 bits. Compare their low 32 bits.
    const unsigned long low32 = static_cast<unsigned long>(status) & 0xFFFFFFFFUL;
    if ((low32 & 0xFFFF0000UL) == 0x80100000UL)
        return find(kPcsc, static_cast<long>(low32));
    if (status < 0)
        return find(kLibrary, status);
    if (status >= 0x6000 && status <= 0x9FFF) {
        is_sw = true;
        if (const Entry* e = find(kStatusWords, status))
            return e;
        return find(kStatusWords, (status & 0xFF00) | 0xFF);
    }
    return nullptr;
}

} // namespace

const char* status_text(long status)
{
    if (status == 0 || status == 0x9000)
        return "success";
    bool is_sw = false;
    if (const Entry* e = lookup(status, is_sw))
        return e->text;
    if (is_sw)
        return "the card refused the command";
    return "unknown status code";
}

const char* status_name(long status)
{
    if (status == 0)
        return "9000";
    bool is_sw = false;
    const Entry* e = lookup(status, is_sw);
    if (e != nullptr && !is_sw)
        return e->name;
    thread_local char buffer[24];
    if (is_sw)
        std::snprintf(buffer, sizeof buffer, "%04lX", status);
    else if (status < 0)
        std::snprintf(buffer, sizeof buffer, "%ld", status);
    else
        std::snprintf(buffer, sizeof buffer, "0x%08lX", static_cast<unsigned long>(status) & 0xFFFFFFFFUL);
    return buffer;
}

const char* version_string() { return OMBRIX_VERSION_STRING; }

} // namespace ombrix
