#include <ombrix/ombrix.h>
#include <cstdio>

int main()
{
    std::printf("Ombrix API %s: %s\n", OMBRIX_VERSION_STRING, ombrix::status_text(0x6982));
    CCardSession session;
    return session.GetReaderInfo() == 65535 ? 0 : 1;
}
