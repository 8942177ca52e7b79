// PERFORM SECURITY OPERATION: decipher and encipher with a key of the card,
// after restoring the security environment and setting the key. These run
// plain: the SMFLAGS argument is accepted and not used.
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
constexpr unsigned char kLePso = 0x90;

// MSE RESTORE bSE, MSE SET tag/key, then 00 2A p1 p2 with the data and Le 90;
// the answer is copied to pbOut on 9000.
long pso(COmbrixR2& card, unsigned char p1, unsigned char p2, COmbrixR2::t_MSE_CSETAG tag,
         unsigned char bSE, unsigned char bKeyRef, std::span<const unsigned char> data,
         unsigned char* pbOut, unsigned char* pcbOut)
{
    if ((pbOut != nullptr && pcbOut == nullptr) || (!data.empty() && data.data() == nullptr))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    if (long rc = card.cmdMSE(bSE); rc != 0)
        return rc;
    if (long rc = card.cmdMSE(tag, bKeyRef); rc != 0)
        return rc;
    Command cmd(card, 0x00, kInsPso, p1, p2);
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
    return pso(*this, kPsoPlain, kPsoCryptogram, CSE_CT, bSE, bKeyRef,
               std::span<const unsigned char>(pbData, pbData ? cbData : 0), pbOut, pcbOut);
}

// 00 2A 86 80: the card enciphers the data.
long COmbrixR2::cmdPSO_ENC_ISO(unsigned char bSE, unsigned char bKeyRef, unsigned char* pbData,
                               unsigned char cbData, unsigned char* pbOut, unsigned char* pcbOut,
                               SMFLAGS* /*pSM*/)
{
    return pso(*this, kPsoCryptogram, kPsoPlain, CSE_CT, bSE, bKeyRef,
               std::span<const unsigned char>(pbData, pbData ? cbData : 0), pbOut, pcbOut);
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
