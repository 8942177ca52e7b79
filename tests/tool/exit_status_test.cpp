// The exit-status table and the wording of errors.
#include "tools/ombrix/exit_status.h"

#include "ombrix/status.h"

#include <gtest/gtest.h>

namespace ombrix::cli {
namespace {

struct Row {
    long status;
    Operation op;
    int exit;
};

class ExitTable : public ::testing::TestWithParam<Row> {};

TEST_P(ExitTable, MapsTheStatus)
{
    EXPECT_EQ(exit_status(GetParam().status, GetParam().op), GetParam().exit)
        << std::hex << GetParam().status;
}

constexpr auto G = Operation::general;
constexpr auto A = Operation::authentication;
constexpr auto S = Operation::secure_messaging;

INSTANTIATE_TEST_SUITE_P(Rows, ExitTable, ::testing::Values(
    Row{0, G, kExitOk}, Row{0x9000, G, kExitOk}, Row{0x6110, G, kExitOk},
    Row{static_cast<long>(0x8010001Du), G, kExitNoReader},  // SCARD_E_NO_SERVICE
    Row{static_cast<long>(0x8010001Eu), G, kExitNoReader},  // SCARD_E_SERVICE_STOPPED
    Row{static_cast<long>(0x8010002Eu), G, kExitNoReader},  // SCARD_E_NO_READERS_AVAILABLE
    Row{static_cast<long>(0x80100009u), G, kExitNoReader},  // SCARD_E_UNKNOWN_READER
    Row{static_cast<long>(0x8010000Cu), G, kExitNoCard},    // SCARD_E_NO_SMARTCARD
    Row{static_cast<long>(0x80100069u), G, kExitNoCard},    // SCARD_W_REMOVED_CARD
    Row{static_cast<long>(static_cast<int>(0x80100069)), G, kExitNoCard}, // 32-bit LONG form
    Row{static_cast<long>(0x8010000Bu), G, kExitFailure},   // SCARD_E_SHARING_VIOLATION
    Row{0x6982, G, kExitCardRefused}, Row{0x6A82, G, kExitCardRefused},
    Row{0x6283, G, kExitCardRefused},
    Row{0x63C2, A, kExitAuthRefused}, Row{0x6983, A, kExitAuthRefused},
    Row{0x6982, A, kExitAuthRefused}, Row{0x6A88, A, kExitAuthRefused},
    Row{0x6D00, A, kExitCardRefused}, Row{0x6700, A, kExitCardRefused}, // not understood
    Row{0x6987, G, kExitSmRefused}, Row{0x6988, A, kExitSmRefused},
    Row{ombrix::OMBRIX_E_SM_DATA_TOO_LONG, G, kExitSmRefused},
    Row{ombrix::OMBRIX_E_FAILED, S, kExitSmRefused},
    Row{ombrix::OMBRIX_E_FAILED, G, kExitFailure},
    Row{ombrix::OMBRIX_E_SHORT_RESPONSE, G, kExitFailure},
    Row{ombrix::OMBRIX_E_NOT_CONNECTED, G, kExitNoCard}));

TEST(Operations, ByClassAndInstruction)
{
    EXPECT_EQ(operation_of(0x00, 0x20), Operation::authentication);
    EXPECT_EQ(operation_of(0x0C, 0x20), Operation::authentication);
    EXPECT_EQ(operation_of(0x00, 0x82), Operation::authentication);
    EXPECT_EQ(operation_of(0x0C, 0xB0), Operation::secure_messaging);
    EXPECT_EQ(operation_of(0x84, 0x40), Operation::secure_messaging);
    EXPECT_EQ(operation_of(0x80, 0x10), Operation::general);
    EXPECT_EQ(operation_of(0x00, 0xA4), Operation::general);
}

TEST(ErrorText, WhatCauseCodeAndOneHint)
{
    EXPECT_EQ(format_error(status_error("listing the readers", 0x8010001D)),
              "ombrix: listing the readers: the PC/SC service is not running (SCARD_E_NO_SERVICE)\n"
              "ombrix: hint: is pcscd running?\n");
    EXPECT_EQ(format_error(status_error("connecting to Virtual PCD 00 01", 0x8010000C)),
              "ombrix: connecting to Virtual PCD 00 01: no card in the reader (SCARD_E_NO_SMARTCARD)\n"
              "ombrix: hint: insert a card, or choose another reader with -r (ombrix readers lists "
              "them)\n");
    const ToolError refused = status_error("sending APDU 1", 0x6982);
    EXPECT_EQ(refused.exit, kExitCardRefused);
    EXPECT_TRUE(format_error(refused).starts_with(
        "ombrix: sending APDU 1: security status not satisfied (6982)\nombrix: hint: "));
    // No code, no hint: one line.
    EXPECT_EQ(format_error(ToolError("reading the script t", "cannot open the file", kExitUsage)),
              "ombrix: reading the script t: cannot open the file\n");
}

} // namespace
} // namespace ombrix::cli
