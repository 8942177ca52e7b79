#include <ombrix/ombrix.h>
#include <cstdio>
#include <string_view>

int main()
{
    std::printf("Ombrix API %s (built against %s): %s\n", ombrix::version_string(),
                OMBRIX_VERSION_STRING, ombrix::status_text(0x6982));
    if (std::string_view(ombrix::version_string()) != OMBRIX_VERSION_STRING)
        return 2;
    CCardSession session;
    return session.GetReaderInfo() == 65535 ? 0 : 1;
}
