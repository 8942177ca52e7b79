// Card objects installed with PUT DATA on the object control information
// (00 DA 01 6E): key objects, logical objects and the public-key test
// objects; and the security environments (6D) and the digest-information
// prefix (02 C2).
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"
#include "cards/r2/elements.h"
#include "ombrix/status.h"

using namespace ombrix::r2;
namespace d = ombrix::descriptor;

namespace {

constexpr unsigned char kInsPutData = 0xDA;

// The DER prefix of a SHA-1 DigestInfo (PKCS #1): the card appends the hash.
constexpr unsigned char kSha1DigestInfoPrefix[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                                   0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
constexpr long kDigestInfoSha1 = 1;

bool missing(const unsigned char* data, std::size_t length)
{
    return length != 0 && data == nullptr;
}

} // namespace

// b1..b8 = 83 00 algo 0F FF FF 00 08; no value element when cbData is 0.
long COmbrixR2::cmdPUT_DATA_OCI(unsigned char bRef, t_OBJCLASS objClass, t_ALGO algo,
                                unsigned char* pbData, unsigned char cbData, BSAC* pBSAC,
                                BSSM* pBSSM, SMFLAGS* pSM)
{
    if (missing(pbData, cbData))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    Field data;
    append_object_description(
        data, {.objectClass = static_cast<unsigned char>(objClass),
               .reference = bRef,
               .parameters = ObjectParameters{0x83, 0x00, static_cast<unsigned char>(algo), 0x0F,
                                              0xFF, 0xFF, 0x00, 0x08},
               .ac = record_or(pBSAC, d::kDefaultKeyObjectAc),
               .sm = record_or(pBSSM, d::kDefaultObjectSm),
               .value = cbData == 0 ? std::nullopt : std::optional<Bytes>(Bytes(pbData, cbData))});
    return put_data(*this, d::kPutObject, data, pSM);
}

// b1..b8 = 02 00 7F 00 FF FF 00 00; a logical object has no SM element.
long COmbrixR2::Init_Logical(unsigned char bRef, unsigned char* pbData, unsigned char cbData,
                             BSAC* pBSAC, BSSM* /*pBSSM*/, SMFLAGS* pSM)
{
    if (missing(pbData, cbData))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    Field data;
    append_logical_object(data, bRef, pbData, cbData, record_or(pBSAC, d::kDefaultObjectAc));
    return put_data(*this, d::kPutObject, data, pSM);
}

// Class 00 with b1 21, then class 01 with b1 01 (b2..b8 = 00 88 0F FF FF 00
// 00). Both are checked before the first goes; the second goes only after
// 9000.
long COmbrixR2::Create_Kpub_TestObj(unsigned char bRef, unsigned char* pbData1,
                                    unsigned char cbData1, unsigned char* pbData2,
                                    unsigned char cbData2, BSAC* pBSAC, BSSM* pBSSM, SMFLAGS* pSM)
{
    if (missing(pbData1, cbData1) || missing(pbData2, cbData2))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    const auto object = [&](unsigned char objectClass, unsigned char b1, Bytes value) {
        return ObjectDescription{
            .objectClass = objectClass,
            .reference = bRef,
            .parameters = ObjectParameters{b1, 0x00, d::kAlgoPublicKeyTest, 0x0F, 0xFF, 0xFF, 0x00,
                                           0x00},
            .ac = record_or(pBSAC, d::kDefaultObjectAc),
            .sm = record_or(pBSSM, d::kDefaultObjectSm),
            .value = value};
    };
    Field first;
    append_object_description(first, object(d::kClassPin, 0x21, Bytes(pbData1, cbData1)));
    Field second;
    append_object_description(second, object(d::kClassPublicTest, 0x01, Bytes(pbData2, cbData2)));
    if (long rc = refusal(first, pSM); rc != 0)
        return rc;
    if (long rc = refusal(second, pSM); rc != 0)
        return rc;
    if (long rc = put_data(*this, d::kPutObject, first, pSM); rc != 0)
        return rc;
    return put_data(*this, d::kPutObject, second, pSM);
}

// 83 01 bSE, 86 02 SEAC (default 00 00), 8F 06 00..: 15 bytes.
long COmbrixR2::cmdPUT_DATA_SECI(unsigned char bSE, SEAC* pSEAC, SMFLAGS* pSM)
{
    Field data;
    append_security_environment(data, bSE, record_or(pSEAC, d::kDefaultSeAc));
    return put_data(*this, d::kPutEnvironment, data, pSM);
}

// 00 DA 02 C2 with the SHA-1 prefix (type 1) or no data; plain.
long COmbrixR2::cmdPUT_DATA_DSI(long* plLen, long lType)
{
    if (plLen == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    const Bytes prefix = lType == kDigestInfoSha1 ? Bytes(kSha1DigestInfoPrefix) : Bytes();
    if (long rc = Command(*this, 0x00, kInsPutData, d::kPutDigestInfoP1, d::kPutDigestInfo)
                      .data(prefix)
                      .send();
        rc != 0)
        return rc;
    *plLen = static_cast<long>(prefix.size()) + 2;
    return 0;
}
