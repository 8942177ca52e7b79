// PERFORM SECURITY OPERATION: digital signature, decipherment and
// encipherment with a key of the card, after restoring the security
// environment and setting the key; and the card's proprietary signature.
// These run plain: the SMFLAGS argument is accepted and not used.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"
#include "ombrix/status.h"
#include "shell/secure_zero.h"

#include <algorithm>
#include <array>
#include <cstring>

using ombrix::r2::Command;

namespace {

constexpr unsigned char kInsPso = 0x2A;
constexpr unsigned char kPsoPlain = 0x80;
constexpr unsigned char kPsoCryptogram = 0x86;
constexpr unsigned char kPsoSignature = 0x9E;
constexpr unsigned char kPsoHash = 0x9A;
constexpr unsigned char kClaProprietary = 0x80;
constexpr unsigned char kInsSignAlgo08 = 0x24;
constexpr unsigned char kLePso = 0x90;

// The operation's command header.
struct Operation {
    unsigned char cla, ins, p1, p2;
    COmbrixR2::t_MSE_CSETAG tag; // the template MSE SET names the key in
};
constexpr Operation kDecipher{0x00, kInsPso, kPsoPlain, kPsoCryptogram, COmbrixR2::CSE_CT};
constexpr Operation kEncipher{0x00, kInsPso, kPsoCryptogram, kPsoPlain, COmbrixR2::CSE_CT};
constexpr Operation kSign{0x00, kInsPso, kPsoSignature, kPsoHash, COmbrixR2::CSE_DST};
constexpr Operation kSignAlgo08{kClaProprietary, kInsSignAlgo08, 0x00, 0x00, COmbrixR2::CSE_CT};

// MSE RESTORE bSE, MSE SET tag/key, then the operation with the data and
// Le 90; the answer is copied to pbOut on 9000. A refused MSE sends no more.
long pso(COmbrixR2& card, const Operation& op, unsigned char bSE, unsigned char bKeyRef,
         const unsigned char* pbData, unsigned char cbData, unsigned char* pbOut,
         unsigned char* pcbOut)
{
    const std::span<const unsigned char> data(pbData, pbData ? cbData : 0);
    if ((pbOut != nullptr && pcbOut == nullptr) || (cbData != 0 && pbData == nullptr))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    if (long rc = card.cmdMSE(bSE); rc != 0)
        return rc;
    if (long rc = card.cmdMSE(op.tag, bKeyRef); rc != 0)
        return rc;
    Command cmd(card, op.cla, op.ins, op.p1, op.p2);
    if (long rc = cmd.data(data).le(kLePso).send(); rc != 0)
        return rc;
    const auto answer = cmd.response();
    // The caller's buffer holds what Le 90 asks for, no more.
    if (answer.size() > kLePso)
        return ombrix::OMBRIX_E_OVERSIZED_RESPONSE;
    if (pbOut != nullptr) {
        std::memcpy(pbOut, answer.data(), answer.size());
        *pcbOut = static_cast<unsigned char>(answer.size());
    }
    return 0;
}

using IsoForm = long (COmbrixR2::*)(unsigned char, unsigned char, unsigned char*, unsigned char,
                                    unsigned char*, unsigned char*, SMFLAGS*);

// The prefixed forms: 00 in front of the data, then the ISO form through the
// virtual table. A 255-byte input would not fit the one-byte Lc with the
// prefix and is refused.
long prefixed(COmbrixR2& card, IsoForm iso, unsigned char bSE, unsigned char bKeyRef,
              const unsigned char* pbData, unsigned char cbData, unsigned char* pbOut,
              unsigned char* pcbOut, SMFLAGS* pSM)
{
    if (cbData > 254)
        return ombrix::OMBRIX_E_R2_DATA_TOO_LONG;
    if (cbData != 0 && pbData == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    std::array<unsigned char, 255> data{};
    if (cbData != 0)
        std::memcpy(data.data() + 1, pbData, cbData);
    const long rc = (card.*iso)(bSE, bKeyRef, data.data(), static_cast<unsigned char>(cbData + 1),
                                pbOut, pcbOut, pSM);
    ombrix::secure_zero(data.data(), data.size());
    return rc;
}

} // namespace

// 00 2A 80 86: the card deciphers the cryptogram.
long COmbrixR2::cmdPSO_DEC_ISO(unsigned char bSE, unsigned char bKeyRef, unsigned char* pbData,
                               unsigned char cbData, unsigned char* pbOut, unsigned char* pcbOut,
                               SMFLAGS* /*pSM*/)
{
    return pso(*this, kDecipher, bSE, bKeyRef, pbData, cbData, pbOut, pcbOut);
}

// 00 2A 86 80: the card enciphers the data.
long COmbrixR2::cmdPSO_ENC_ISO(unsigned char bSE, unsigned char bKeyRef, unsigned char* pbData,
                               unsigned char cbData, unsigned char* pbOut, unsigned char* pcbOut,
                               SMFLAGS* /*pSM*/)
{
    return pso(*this, kEncipher, bSE, bKeyRef, pbData, cbData, pbOut, pcbOut);
}

// 00 2A 9E 9A: the card signs the hash (or DigestInfo) with the key set for
// the digital signature template.
long COmbrixR2::cmdPSO_CDS(unsigned char bSE, unsigned char bKeyRef, unsigned char* pbData,
                           unsigned char cbData, unsigned char* pbOut, unsigned char* pcbOut,
                           SMFLAGS* /*pSM*/)
{
    return pso(*this, kSign, bSE, bKeyRef, pbData, cbData, pbOut, pcbOut);
}

// 80 24 00 00: the card's own signature, with the key set for the
// confidentiality template.
long COmbrixR2::cmdPSO_CDS_ALGO08(unsigned char bSE, unsigned char bKeyRef, unsigned char* pbData,
                                  unsigned char cbData, unsigned char* pbOut,
                                  unsigned char* pcbOut, SMFLAGS* /*pSM*/)
{
    return pso(*this, kSignAlgo08, bSE, bKeyRef, pbData, cbData, pbOut, pcbOut);
}

long COmbrixR2::cmdPSO_DEC(unsigned char bSE, unsigned char bKeyRef, unsigned char* pbData,
                           unsigned char cbData, unsigned char* pbOut, unsigned char* pcbOut,
                           SMFLAGS* pSM)
{
    return prefixed(*this, &COmbrixR2::cmdPSO_DEC_ISO, bSE, bKeyRef, pbData, cbData, pbOut,
                    pcbOut, pSM);
}

long COmbrixR2::cmdPSO_ENC(unsigned char bSE, unsigned char bKeyRef, unsigned char* pbData,
                           unsigned char cbData, unsigned char* pbOut, unsigned char* pcbOut,
                           SMFLAGS* pSM)
{
    return prefixed(*this, &COmbrixR2::cmdPSO_ENC_ISO, bSE, bKeyRef, pbData, cbData, pbOut,
                    pcbOut, pSM);
}
