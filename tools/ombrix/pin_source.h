// Where a PIN comes from, for the subcommands that need one:
//   --pin env:NAME   the environment variable NAME
//   --pin-stdin      the first line of standard input
//   (nothing)        a prompt on the terminal, without echo
//   --pin VALUE      the value itself: works, with a warning (it shows in
//                    the process list and the shell history)
// The PIN is held in a buffer that is wiped when it goes.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix::cli {

// Bytes wiped on destruction; not copyable, so no copy is left behind.
class SecretBytes {
public:
    SecretBytes() = default;
    explicit SecretBytes(std::string_view text);
    SecretBytes(SecretBytes&& other) noexcept;
    SecretBytes& operator=(SecretBytes&& other) noexcept;
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    ~SecretBytes();

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }

private:
    void wipe();
    std::vector<std::uint8_t> bytes_;
};

struct PinSource {
    enum class Kind { prompt, environment, standard_input, command_line };
    Kind kind = Kind::prompt;
    std::string name; // environment: the variable; command_line: the value itself
};

// The value of --pin ("env:NAME" or a literal PIN); none: the prompt.
// --pin-stdin wins over --pin. "env:" without a name is refused (none + error).
std::optional<PinSource> parse_pin_option(const std::optional<std::string>& pin, bool pin_stdin,
                                          std::string& error);

// What reading a PIN needs from the outside world (the tests give their own).
struct PinIo {
    std::function<const char*(const char*)> getenv;
    std::istream* input = nullptr;   // standard input
    std::ostream* warnings = nullptr; // standard error
    // Prompts on the terminal without echo; none when there is no terminal.
    std::function<std::optional<std::string>(const std::string& prompt)> prompt;
};

// The PIN, or none with the reason in `error` (the variable is unset, standard
// input is empty, no terminal to prompt on). `label` names it in prompts ("PIN").
std::optional<SecretBytes> read_pin(const PinSource& source, const PinIo& io,
                                    const std::string& label, std::string& error);

// Reads a line from the controlling terminal with echo off; none without one.
std::optional<std::string> prompt_without_echo(const std::string& prompt);

} // namespace ombrix::cli
