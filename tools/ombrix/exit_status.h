// The tool's exit statuses and error messages, one table for every
// subcommand (docs/tool.md):
//   0 success                      4 no card in the reader
//   1 any other failure            5 the card refused the command (status word)
//   2 usage                        6 PIN or authentication refused
//   3 no PC/SC service, no reader  7 secure messaging refused
// Errors read "ombrix: <what was being done>: <cause in words> (<code>)",
// with at most one hint line after them.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace ombrix::cli {

enum ExitStatus : int {
    kExitOk = 0,
    kExitFailure = 1,
    kExitUsage = 2,
    kExitNoReader = 3,
    kExitNoCard = 4,
    kExitCardRefused = 5,
    kExitAuthRefused = 6,
    kExitSmRefused = 7,
};

// What kind of command a status word answered: a VERIFY refused for its PIN
// is a refused PIN (6); the secure-messaging bridge's -1 a refused secure
// messaging (7).
enum class Operation { general, authentication, secure_messaging };

// The kind of a command by its class and instruction bytes.
Operation operation_of(std::uint8_t cla, std::uint8_t ins);

// The exit status of a library status code (0, a PC/SC error, a status word
// or a library code) for a command of kind `op`.
int exit_status(long status, Operation op = Operation::general);

// A status word the tool takes as success: 9000, and 61xx (more data waiting).
bool is_success_sw(std::uint16_t sw);

// One hint that helps with `status`, or "" ("is pcscd running?").
std::string hint_for(long status);

// A failure on its way to standard error and the exit status.
struct ToolError : std::exception {
    std::string doing;   // "connecting to Virtual PCD 00 00"
    std::string cause;   // "no card in the reader"
    std::string code;    // "SCARD_E_NO_SMARTCARD", "6982"; may be empty
    std::string hint;    // may be empty
    std::string details; // extra lines (candidate readers), each ending in a line feed
    int exit = kExitFailure;

    ToolError(std::string doing_, std::string cause_, int exit_, std::string code_ = {},
              std::string hint_ = {}, std::string details_ = {});
    const char* what() const noexcept override { return cause.c_str(); }
};

// The error for a failed library call: cause, code, hint and exit status from `status`.
ToolError status_error(std::string doing, long status, Operation op = Operation::general);

// The lines written to standard error for `error`.
std::string format_error(const ToolError& error);

} // namespace ombrix::cli
