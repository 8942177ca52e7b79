// PbHandleBir: a handle on one biometric record (BIR) of 720 bytes, the
// template that the card matches against its enrolled reference
// (match-on-card), and the transmission of the record to the card piece by
// piece.
//
// The record comes from bytes or from a file of exactly 720 bytes. The handle
// owns a copy and wipes it when it goes. Nothing here throws.
//
// Results: 0, or a PC/SC error code (as the platform's LONG, converted to
// int): SCARD_E_INVALID_PARAMETER for arguments that do not describe a piece
// of the record, SCARD_E_INVALID_VALUE for a handle without a record or a
// file of the wrong size, SCARD_E_FILE_NOT_FOUND for a file that cannot be
// read, and whatever the transmission returned.
#pragma once

#if defined(_WIN32)
#  include <winscard.h>
#  if defined(QVBIOLIB_BUILDING)
#    define QVBIOLIB_API __declspec(dllexport)
#  elif defined(QVBIOLIB_STATIC)
#    define QVBIOLIB_API
#  else
#    define QVBIOLIB_API __declspec(dllimport)
#  endif
#  define QVBIOLIB_PCSC_CALL WINAPI
#else
#  include <PCSC/winscard.h>
#  define QVBIOLIB_API __attribute__((visibility("default")))
#  define QVBIOLIB_PCSC_CALL
#endif

#include <array>
#include <cstddef>

class QVBIOLIB_API PbHandleBir {
public:
    static constexpr std::size_t kRecordSize = 720;

    // The transmission: SCardTransmit's signature. Tests and tools that serve
    // the card some other way give their own.
    using TransmitFn = LONG(QVBIOLIB_PCSC_CALL*)(SCARDHANDLE card, const SCARD_IO_REQUEST* send_pci,
                                                 const BYTE* send, DWORD send_length,
                                                 SCARD_IO_REQUEST* recv_pci, BYTE* recv,
                                                 DWORD* recv_length);

    // No record yet; transmission through the platform's SCardTransmit.
    PbHandleBir();
    ~PbHandleBir(); // wipes the record
    PbHandleBir(const PbHandleBir& other);
    PbHandleBir& operator=(const PbHandleBir& other);

    // The record from `length` bytes (exactly 720).
    int from_bytes(const unsigned char* record, std::size_t length);
    // The record from a file holding exactly 720 bytes.
    int from_file(const char* path);
    bool has_record() const { return loaded_; }

    // Null: back to the platform's SCardTransmit.
    void set_transmit(TransmitFn transmit);

    // Sends the cbHeader bytes at pbHeader followed by the cbPiece bytes of the
    // record from `offset` (cbSend must be cbHeader + cbPiece, and the piece
    // must lie inside the record) on hCard. On 0 the exchange took place:
    // *pcbRecv (capacity of pbRecv in, bytes received out) counts the answer,
    // and when it holds at least two bytes SW1 SW2 are the first two of
    // pbRecv, followed by the answer's data.
    int write_bir_to_card(unsigned int offset, unsigned int cbHeader, unsigned int cbPiece,
                          unsigned long hCard, SCARD_IO_REQUEST* pioSendPci,
                          const unsigned char* pbHeader, unsigned long cbSend,
                          SCARD_IO_REQUEST* pioRecvPci, unsigned char* pbRecv,
                          unsigned long* pcbRecv);

private:
    void wipe();

    std::array<unsigned char, kRecordSize> record_{};
    bool loaded_ = false;
    TransmitFn transmit_;
};
