#include "shell/trace.h"

#include "ombrix/trace_control.h"

#include "platform/platform.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

unsigned short g_nTraceLevel = 0;
int g_bTraceOn = 0;
FILE* g_pTraceFile = nullptr;
int g_bTraceSecrets = 0;

namespace {
constexpr std::size_t kTraceBuffer = 256;
} // namespace

int trace(unsigned short level, const char* format, ...)
{
    if (level > g_nTraceLevel || g_bTraceOn == 0)
        return 0;
    const std::uint32_t thread = ombrix::platform::thread_id();
    FILE* stream = g_pTraceFile;
    if (stream == nullptr)
        return -1;

    const auto now = ombrix::platform::local_time();
    char buffer[kTraceBuffer];
    const int prefix = std::snprintf(buffer, sizeof buffer,
                                     "[0x%08x] - %02d\\%02d\\%04d - [%02d:%02d:%02d.%03d] ", thread,
                                     now.day, now.month, now.year, now.hour, now.minute,
                                     now.second, now.millisecond);
    if (prefix < 0)
        return 0;
    // A '%' in the prefix would be read as a conversion by the formatted write.
    const char* text = format ? format : "";
    const std::size_t text_length = std::strlen(text);
    const std::size_t prefix_length = static_cast<std::size_t>(prefix);

    // Prefix and format share one buffer so that one formatted write produces
    // the whole piece. A format too long for the buffer is given a heap buffer
    // instead: never cut (a cut conversion would misread the arguments).
    std::string large;
    char* whole = buffer;
    if (prefix_length + text_length + 1 > sizeof buffer) {
        large.assign(buffer, prefix_length);
        large.append(text, text_length);
        whole = large.data();
    } else {
        std::memcpy(buffer + prefix_length, text, text_length + 1);
    }

    va_list args;
    va_start(args, format);
#if defined(__GNUC__)
#  pragma GCC diagnostic push
#  pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
    std::vfprintf(stream, whole, args);
#if defined(__GNUC__)
#  pragma GCC diagnostic pop
#endif
    va_end(args);
    std::fflush(stream);
    return 0;
}

namespace ombrix::shell {

bool is_secret_command(unsigned char ins, unsigned char p1, unsigned char p2)
{
    switch (ins) {
    case 0x20: // VERIFY
    case 0x24: // CHANGE REFERENCE DATA, CHANGE KEY, CHANGE KEY DATA
    case 0x2C: // RESET RETRY COUNTER
        return true;
    case 0xDA: // PUT DATA: the object description holds the object's value
        return p1 == 0x01 && p2 == 0x6E;
    default:
        return false;
    }
}

void configure_trace_from_environment()
{
    const char* secrets = std::getenv("OMBRIX_TRACE_SECRETS");
    g_bTraceSecrets = secrets != nullptr && std::strcmp(secrets, "1") == 0;
    const char* level = std::getenv("OMBRIX_TRACE");
    if (level == nullptr || *level == '\0')
        return;
    char* end = nullptr;
    const unsigned long value = std::strtoul(level, &end, 10);
    if (end == level || value == 0)
        return;
    g_nTraceLevel = static_cast<unsigned short>(value > 0xFFFF ? 0xFFFF : value);
    const char* path = std::getenv("OMBRIX_TRACE_FILE");
    FILE* stream = stderr;
    if (path != nullptr && *path != '\0') {
        stream = std::fopen(path, "a");
        if (stream == nullptr)
            stream = stderr;
    }
    g_pTraceFile = stream;
    g_bTraceOn = 1;
}

} // namespace ombrix::shell

namespace ombrix {

void set_trace(unsigned short level, std::FILE* stream)
{
    g_pTraceFile = stream ? stream : stderr;
    g_nTraceLevel = level;
    g_bTraceOn = level != 0 ? 1 : 0;
}

} // namespace ombrix
