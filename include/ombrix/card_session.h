// CCardSession: one PC/SC resource-manager context and one card connection,
// the APDU exchange every command of every card class goes through, reader
// listing and card selection, and card-event monitoring.
#pragma once

#include "ombrix/export.h"
#include "ombrix/types.h"

class OMBRIX_API CCardSession {
public:
    CCardSession();
    // Copies share the context (only the session that established it releases
    // it) and the card handle; each copy owns its own reader-name copy and its
    // own copy of the cached secure-messaging key.
    CCardSession(const CCardSession& other);
    CCardSession& operator=(const CCardSession& other);
    virtual ~CCardSession();

    // -- context and connection
    int InitRM();                       // 1: a context exists; 0: none could be established
    int ExitRM();                       // 1, or the error of SCardReleaseContext
    long Connect(const char* szReader); // null: the first reader that accepts a connection
    long ReConnect();
    long Disconnect();

    // -- the exchange
    // Status code: 0 for 9000, else the status word, a PC/SC error or a library code.
    virtual long Send(APDU apdu, unsigned char* pbResp, unsigned char* pbRespLen);
    // 0 when the exchange took place (whatever the status word), else the error.
    // pSW1, pSW2 never null; pbRespLen not null when pbResp is given.
    virtual long Send(APDU apdu, unsigned char* pbResp, unsigned char* pbRespLen,
                      unsigned char* pSW1, unsigned char* pSW2);

    long GetATR(unsigned char* pbAtr, unsigned long* pcbAtr);
    void LockSC();
    void UnlockSC();
    const char* GetReaderName();
    long Set_ChannelUsed(unsigned char channel);
    long Get_ChannelUsed(unsigned char& channel);

    // -- readers and card selection
    // Lists the readers that accept a test connection (with onlyWithCard 0,
    // empty readers too): their names, each with its zero byte, `count` of
    // them. With *ppList null the list is allocated with malloc and the
    // caller frees it; otherwise `count` states the capacity of *ppList in
    // bytes on entry, and names that do not fit give
    // SCARD_E_INSUFFICIENT_BUFFER with `count` 0 and nothing written. Returns
    // the result of the last test connection (judge success by `count`). The
    // session is left without a card connection.
    long GetReaderList(int onlyWithCard, char** ppList, long& count);
    long GetReaderInfo();
    // The reader vendor's name: 0 with `len` set, 1 when pbName is null or
    // `len` too small (`len` unchanged), or the PC/SC error.
    long GetManufacturer(unsigned char* pbName, long& len);
    // Lets the user choose a reader holding a card of the types registered for
    // the library's provider (ombrix/selection.h); bSilent never asks. 1 with
    // the name (and its zero byte, *pLen bytes) in the caller's 256-byte
    // buffer *ppReader; 0 on failure, with the thread's last error
    // (ombrix::platform::last_error) SCARD_E_NO_SMARTCARD after a cancel.
    static int SmartCardDialog(char** ppReader, long* pLen, int bSilent);

    // -- card-event monitoring
    // One thread per watched reader calls back with the reader's name and an
    // event: 1 card present at the start, 2 inserted, 3 removed, 4 the reader
    // became unavailable. At most ten monitors run until the next stop.
    // Each monitoring thread waits on a context of its own, so that a waiting
    // monitor holds up no other PC/SC call of the process.
    // Watches the connected reader (blocking); the monitor ends when the
    // session releases its context (ExitRM, destruction).
    long StartCardMonitoring(void (*pfnInternal)(char*, int), void (*pfnExternal)(char*, int),
                             int checkDup);
    // Watches a named reader, blocking or polling every 200 ms; these monitors
    // share a context of the library's, established by the first start and
    // released by the stop.
    static long StartCardMonitoringEx(char* reader, void (*pfnExternal)(char*, int), int checkDup,
                                      int blocking);
    // Stops every monitor: once it returns no monitor starts another callback.
    // Waits up to 5 s for the threads, cancelling their waits (a callback
    // still running then is left to finish on its own thread). May be called
    // from a callback.
    static void StopCardMonitoring();

protected:
    CCardSession* m_pContextOwner;
    OMBRIX_HANDLE m_hContext;
    OMBRIX_HANDLE m_hCard;
    unsigned char* m_pSMKey;   // 16 bytes, new[]-allocated; null = none
    char* m_szReader;          // malloc-allocated copy of the last connected reader name
    unsigned char m_ChannelUsed;
    int m_nApduCount;
    // The protocol Connect/ReConnect negotiated: Send transmits with the T=1
    // control information on T=1 (and unknown) connections, with T=0's on T=0.
    unsigned long m_dwActiveProtocol;

    // Releases the cached secure-messaging key, zeroing it first.
    void ReleaseSMKey();

private:
    void CopyFrom(const CCardSession& other);
    void ReleaseOwned();
};

// Connection counter: grows by one each time Connect stores a reader name.
// Per process on this platform; only the trace reads it.
extern "C" OMBRIX_API int g_lConnectCount; // 32 bits on every platform
