#include "tests/support/pcsc_fixture.h"

#include "shell/trace.h"

#include <cstdio>

namespace ombrix::test {

TraceCapture::TraceCapture(unsigned short level)
    : file_(std::tmpfile()), saved_level_(g_nTraceLevel), saved_on_(g_bTraceOn),
      saved_file_(g_pTraceFile)
{
    g_nTraceLevel = level;
    g_bTraceOn = 1;
    g_pTraceFile = file_;
}

TraceCapture::~TraceCapture()
{
    g_nTraceLevel = saved_level_;
    g_bTraceOn = saved_on_;
    g_pTraceFile = saved_file_;
    if (file_)
        std::fclose(file_);
}

std::string TraceCapture::text() const
{
    std::string out;
    if (!file_)
        return out;
    std::fflush(file_);
    std::rewind(file_);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0)
        out.append(buffer, n);
    return out;
}

} // namespace ombrix::test
