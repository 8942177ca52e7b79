// COmbrixR1: the command set of the first-generation Ombrix card (model R1).
// Plain commands on the session: no secure messaging, no host cryptography.
//
// Every method returns a status code: 0 when the card answered 9000, the PC/SC
// error of a failed exchange, otherwise SW1*256+SW2, or a library code of its
// own (ombrix/status.h). Nothing is thrown.
//
// All commands are virtual except Apply3Des, and the composite ones call the
// others through the virtual table: WriteBinaryFile uses UpdateBinary,
// ReadBinaryFile uses ReadBinary, Change3DES uses ChangeReferenceData, and the
// administrative commands (CreateFileA, DeleteFileA, ResetSecurityState,
// ResetRetryCounter) use GetData_Stato and PhaseControl. A derived class that
// overrides one of these changes the composite methods with it.
//
// Buffers: a null pointer where the command needs data or room for an answer
// is refused with OMBRIX_E_INVALID_ARGUMENT and nothing is sent. Where a method
// takes no capacity, the response buffer must hold 255 bytes (the most one
// answer can carry).
#pragma once

#include "ombrix/card_session.h"
#include "ombrix/export.h"

class OMBRIX_API COmbrixR1 : public CCardSession {
public:
    // -- PINs and keys (references are sent with bit 80 set)
    // VERIFY 00 20 00 ref.
    virtual long VerifyPIN(unsigned char pinRef, unsigned char* pin, unsigned char pinLen);
    // CHANGE REFERENCE DATA 00 24 01 ref; `data` is what the card expects for
    // the change (old and new PIN).
    virtual long ChangePin(unsigned char pinRef, unsigned char* data, unsigned char len);
    // The triple-DES key `keyRef`: ChangeReferenceData(keyRef | 80, 21, data, len).
    virtual long Change3DES(unsigned char keyRef, unsigned char* data, unsigned char len);
    // CHANGE REFERENCE DATA 00 24 p1 ref, as given.
    virtual long ChangeReferenceData(unsigned char ref, unsigned char p1, unsigned char* data,
                                     unsigned char len);

    // -- selection
    // mode 1: the file identifier in path[0], path[1] (`len` is not used);
    // mode 2: `len` bytes of path from the master file. Any other mode:
    // OMBRIX_E_BAD_SELECT_MODE (-105), nothing sent. No FCI is returned.
    virtual long Select(unsigned char mode, unsigned char* path, unsigned char len);

    // -- transparent files (the current EF, from offset 0, in 255-byte chunks)
    // Reads exactly *pLen bytes into `buf`; *pLen is not written. A chunk
    // that comes back with fewer bytes than the read needs ends the read with
    // OMBRIX_E_R1_SHORT_READ: the bytes that did arrive are in `buf`, nothing
    // is stored past them. More than 65790 bytes (chunk offsets past FFFF):
    // OMBRIX_E_R1_OFFSET_LIMIT, nothing sent.
    virtual long ReadBinary(unsigned char* buf, unsigned long* pLen);
    // Reads until the end of the file: *pLen in is the capacity of `buf`, out
    // the number of bytes stored (0 returned). Ends at a chunk shorter than
    // 255 bytes, at 6A86 after the first chunk (offset past the end of the
    // file), when `buf` is full (the rest of a chunk that does not fit is
    // dropped), or at offset FFFF, the last the card can address.
    virtual long ReadBinaryEx(unsigned char* buf, unsigned long* pLen);
    // Writes `len` bytes. The first chunk the card refuses, or the first
    // failed exchange, ends the write: the chunks before it are written.
    // More than 65790 bytes: OMBRIX_E_R1_OFFSET_LIMIT, nothing sent.
    virtual long UpdateBinary(unsigned char* data, unsigned long len);

    // -- record files (the current EF)
    // APPEND RECORD 00 E2 00 00.
    virtual long AppendRecord(unsigned char* rec, unsigned char len);
    // READ RECORD 00 B2 recNo 04: the record to `buf` (255 bytes of room),
    // its length to *pLen, whenever the card answers.
    virtual long ReadRecord(unsigned char recNo, unsigned char* buf, unsigned char* pLen);
    // UPDATE RECORD 00 DC recNo 04.
    virtual long UpdateRecord(unsigned char recNo, unsigned char* rec, unsigned char len);

    // -- length-prefixed files: a two-byte length, high byte first, then the content
    // Writes the length and `len` bytes from offset 0. `len` over 65535:
    // OMBRIX_E_BAD_FILE_LENGTH (-104), nothing sent.
    virtual long WriteBinaryFile(unsigned char* data, unsigned long len);
    // *pLen in: the capacity of `buf`; out: the content length. A file whose
    // length says more than the capacity: OMBRIX_E_BAD_FILE_LENGTH (-104) with
    // *pLen set to the length needed, `buf` untouched.
    virtual long ReadBinaryFile(unsigned char* buf, unsigned long* pLen);

    // -- administration: the card is put in life-cycle state 20 for the command
    // (PHASE CONTROL when GET DATA does not say 20) and PHASE CONTROL is sent
    // after it: for DeleteFileA and CreateFileA when the card answered 9000,
    // for the resets whenever the card answered.
    // DELETE FILE 00 E4 00 00 with the identifier fid[0], fid[1].
    virtual long DeleteFileA(unsigned char* fid);
    // CREATE FILE 00 E0 00 00 with the 33-byte template: size (0 to 65535,
    // else OMBRIX_E_R1_BAD_FILE_SIZE and nothing sent), descriptor fdb 00
    // recordSize, identifier fid[0] fid[1], and access bytes 01 (accessFlag 0)
    // or 00 (any other accessFlag).
    virtual long CreateFileA(unsigned char fdb, int accessFlag, long size, unsigned char* fid,
                             unsigned char recordSize);
    // The life-cycle state (0 to 255) on 9000; OMBRIX_E_R1_NO_LIFE_CYCLE when
    // the card answered 9000 without it; otherwise the status code.
    virtual long GetData_Stato();
    // PHASE CONTROL B0 10 00 00: the card switches between states 10 and 20.
    virtual long PhaseControl();
    // 00 EA 00 00.
    virtual long ResetSecurityState();
    // RESET RETRY COUNTER 00 2C 03 ref.
    virtual long ResetRetryCounter(unsigned char pinRef);

    // -- on-card triple-DES with the key `keyRef`
    // MANAGE SECURITY ENVIRONMENT 00 22 41 B8 (83 02 08 keyRef), then PERFORM
    // SECURITY OPERATION with `len` bytes: mode 0 enciphers (00 2A 86 80: the
    // answer is a padding-indicator byte and the cryptogram), mode 1
    // deciphers (00 2A 80 86: `data` is the padding indicator and the
    // cryptogram). Another mode: -104 once the environment is set. The answer
    // goes to pbResp (255 bytes of room), its length to *pbRespLen.
    long Apply3Des(int mode, unsigned char keyRef, unsigned char* data, unsigned char len,
                   unsigned char* pbResp, unsigned char* pbRespLen);
};
