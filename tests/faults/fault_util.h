// Shared pieces of the fault tests: byte patterns, the PC/SC error names the
// tables print, and the checks every fault cell ends with.
#pragma once

#include "tests/support/pcsc_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>

namespace ombrix::test {

// n bytes counting up from `first`: each chunk of a transfer is recognisable.
inline Bytes pattern(std::size_t n, std::uint8_t first = 0)
{
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(first + i * 7);
    return out;
}

inline Bytes slice(const Bytes& bytes, std::size_t from, std::size_t n)
{
    return Bytes(bytes.begin() + static_cast<long>(from),
                 bytes.begin() + static_cast<long>(from + n));
}

// A file of the two card generations: a two-byte length, then the content.
inline Bytes prefixed(const Bytes& content)
{
    Bytes file{static_cast<std::uint8_t>(content.size() >> 8),
               static_cast<std::uint8_t>(content.size())};
    file.insert(file.end(), content.begin(), content.end());
    return file;
}

// A card object of class `Card`, connected to reader "R".
template <class Card>
std::unique_ptr<Card> connected()
{
    auto card = std::make_unique<Card>();
    EXPECT_EQ(card->InitRM(), 1);
    EXPECT_EQ(card->Connect("R"), 0);
    return card;
}

constexpr long pcsc_code(unsigned long code) { return static_cast<long>(code); }

inline const char* error_name(long error)
{
    switch (error) {
    case pcsc_code(SCARD_W_REMOVED_CARD): return "Removed";
    case pcsc_code(SCARD_W_RESET_CARD): return "Reset";
    case pcsc_code(SCARD_E_INSUFFICIENT_BUFFER): return "InsufficientBuffer";
    case pcsc_code(SCARD_F_COMM_ERROR): return "CommError";
    case pcsc_code(SCARD_E_NO_SERVICE): return "NoService";
    case pcsc_code(SCARD_E_NO_MEMORY): return "NoMemory";
    case pcsc_code(SCARD_E_NO_SMARTCARD): return "NoSmartcard";
    case pcsc_code(SCARD_E_SHARING_VIOLATION): return "SharingViolation";
    case pcsc_code(SCARD_E_NO_READERS_AVAILABLE): return "NoReaders";
    case pcsc_code(SCARD_E_TIMEOUT): return "Timeout";
    case pcsc_code(SCARD_E_CANCELLED): return "Cancelled";
    case pcsc_code(SCARD_E_UNKNOWN_READER): return "UnknownReader";
    case pcsc_code(SCARD_E_SERVICE_STOPPED): return "ServiceStopped";
    case pcsc_code(SCARD_E_INVALID_HANDLE): return "InvalidHandle";
    case pcsc_code(SCARD_E_UNSUPPORTED_FEATURE): return "Unsupported";
    case pcsc_code(SCARD_E_NOT_TRANSACTED): return "NotTransacted";
    default: return "Other";
    }
}

// Each GET CHALLENGE the card answered serves at most one protected command
// (class with bits 0C) that the card received: a challenge is never used twice.
inline void expect_each_challenge_used_once()
{
    int last_challenge = -1;
    std::set<int> used;
    const auto log = InprocPcsc::instance().exchanges();
    for (int i = 0; i < static_cast<int>(log.size()); ++i) {
        const auto& e = log[static_cast<std::size_t>(i)];
        if (e.result != 0 || e.command.size() < 4)
            continue;
        if (e.command[1] == 0x84) {
            last_challenge = i;
            continue;
        }
        if ((e.command[0] & 0x0C) != 0x0C)
            continue;
        EXPECT_NE(last_challenge, -1) << "protected command " << to_hex(e.command)
                                      << " without a challenge";
        EXPECT_TRUE(used.insert(last_challenge).second)
            << "protected command " << to_hex(e.command) << " reuses the challenge of exchange "
            << last_challenge;
    }
}

// Nothing the library opened stays open once its objects are gone.
inline void expect_nothing_left_open()
{
    auto& pcsc = InprocPcsc::instance();
    EXPECT_EQ(pcsc.open_contexts(), 0) << "context leaked";
    EXPECT_EQ(pcsc.open_handles(), 0) << "card handle leaked";
    EXPECT_EQ(pcsc.open_transactions(), 0) << "transaction left open";
    EXPECT_EQ(pcsc.outstanding_allocations(), 0) << "PC/SC buffer not freed";
}

} // namespace ombrix::test
