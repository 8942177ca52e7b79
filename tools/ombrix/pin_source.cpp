#include "tools/ombrix/pin_source.h"

#include "shell/secure_zero.h"

#include <cstdio>
#if defined(_WIN32)
#  include <windows.h>
#else
#  include <termios.h>
#  include <unistd.h>
#endif

namespace ombrix::cli {

namespace {

void wipe_string(std::string& s)
{
    ombrix::secure_zero(s.data(), s.size());
    s.clear();
}

void strip_line_end(std::string& s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
}

} // namespace

SecretBytes::SecretBytes(std::string_view text) : bytes_(text.begin(), text.end()) {}

SecretBytes::SecretBytes(SecretBytes&& other) noexcept : bytes_(std::move(other.bytes_))
{
    other.bytes_.clear();
}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept
{
    if (this != &other) {
        wipe();
        bytes_ = std::move(other.bytes_);
        other.bytes_.clear();
    }
    return *this;
}

SecretBytes::~SecretBytes() { wipe(); }

void SecretBytes::wipe()
{
    ombrix::secure_zero(bytes_.data(), bytes_.size());
    bytes_.clear();
}

std::optional<PinSource> parse_pin_option(const std::optional<std::string>& pin, bool pin_stdin,
                                          std::string& error)
{
    if (pin_stdin)
        return PinSource{PinSource::Kind::standard_input, {}};
    if (!pin)
        return PinSource{PinSource::Kind::prompt, {}};
    const std::string_view value = *pin;
    if (value.starts_with("env:")) {
        if (value.size() == 4) {
            error = "--pin env: needs the name of an environment variable (env:NAME)";
            return std::nullopt;
        }
        return PinSource{PinSource::Kind::environment, std::string(value.substr(4))};
    }
    return PinSource{PinSource::Kind::command_line, *pin};
}

std::optional<SecretBytes> read_pin(const PinSource& source, const PinIo& io,
                                    const std::string& label, std::string& error)
{
    switch (source.kind) {
    case PinSource::Kind::command_line:
        if (io.warnings != nullptr)
            *io.warnings << "ombrix: warning: a " << label
                         << " on the command line shows in the process list and the shell history; "
                            "prefer --pin env:NAME or --pin-stdin\n";
        return SecretBytes(source.name);
    case PinSource::Kind::environment: {
        const char* value = io.getenv ? io.getenv(source.name.c_str()) : nullptr;
        if (value == nullptr) {
            error = "the environment variable " + source.name + " is not set";
            return std::nullopt;
        }
        return SecretBytes(value);
    }
    case PinSource::Kind::standard_input: {
        std::string line;
        if (io.input == nullptr || !std::getline(*io.input, line)) {
            error = "standard input ended before a " + label;
            return std::nullopt;
        }
        strip_line_end(line);
        SecretBytes pin(line);
        wipe_string(line);
        return pin;
    }
    case PinSource::Kind::prompt: {
        auto typed = io.prompt ? io.prompt(label + ": ") : std::nullopt;
        if (!typed) {
            error = "no terminal to ask for the " + label +
                    " on; give it with --pin env:NAME or --pin-stdin";
            return std::nullopt;
        }
        SecretBytes pin(*typed);
        wipe_string(*typed);
        return pin;
    }
    }
    error = "no " + label + " source";
    return std::nullopt;
}

#if defined(_WIN32)
// The console's own input and output, whatever standard input and output are.
std::optional<std::string> prompt_without_echo(const std::string& prompt)
{
    const HANDLE in = ::CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    const HANDLE out = ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD saved = 0;
    std::optional<std::string> line;
    if (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && ::GetConsoleMode(in, &saved)) {
        DWORD written = 0;
        ::WriteConsoleA(out, prompt.data(), static_cast<DWORD>(prompt.size()), &written, nullptr);
        ::SetConsoleMode(in, (saved | ENABLE_LINE_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
        line.emplace();
        char c = 0;
        DWORD read = 0;
        while (::ReadConsoleA(in, &c, 1, &read, nullptr) && read == 1 && c != '\n')
            line->push_back(c);
        ::SetConsoleMode(in, saved);
        ::WriteConsoleA(out, "\r\n", 2, &written, nullptr);
        strip_line_end(*line);
    }
    if (in != INVALID_HANDLE_VALUE)
        ::CloseHandle(in);
    if (out != INVALID_HANDLE_VALUE)
        ::CloseHandle(out);
    return line;
}
#else
std::optional<std::string> prompt_without_echo(const std::string& prompt)
{
    FILE* tty = std::fopen("/dev/tty", "r+");
    if (tty == nullptr)
        return std::nullopt;
    const int fd = fileno(tty);
    termios saved{};
    if (tcgetattr(fd, &saved) != 0) {
        std::fclose(tty);
        return std::nullopt;
    }
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    std::fputs(prompt.c_str(), tty);
    std::fflush(tty);
    tcsetattr(fd, TCSAFLUSH, &quiet);
    std::string line;
    int c = 0;
    while ((c = std::fgetc(tty)) != EOF && c != '\n')
        line.push_back(static_cast<char>(c));
    tcsetattr(fd, TCSAFLUSH, &saved);
    std::fclose(tty);
    strip_line_end(line);
    return line;
}
#endif

} // namespace ombrix::cli
