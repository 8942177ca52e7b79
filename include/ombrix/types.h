// Records shared by every card class: the command APDU and the PC/SC handle type.
#pragma once

// PC/SC context and card handles, as wide as the platform's SCARDCONTEXT and
// SCARDHANDLE (pcsc-lite: LONG; Windows: ULONG_PTR), without pulling the
// platform's PC/SC header into applications.
#if defined(_WIN64)
typedef unsigned long long OMBRIX_HANDLE;
#elif defined(_WIN32)
typedef unsigned long OMBRIX_HANDLE;
#else
typedef long OMBRIX_HANDLE;
#endif

// A short command APDU, passed by value. Lc 0 means no data field, Le 0 means
// no Le byte; so at most 255 data bytes go out and Le 256 cannot be asked for.
struct APDU {
    unsigned char CLA;   // 0 lets the session's logical channel apply
    unsigned char INS;
    unsigned char P1;
    unsigned char P2;
    unsigned char Lc;
    unsigned char* data; // Lc bytes, owned by the caller; not read when Lc is 0
    unsigned char Le;
};
