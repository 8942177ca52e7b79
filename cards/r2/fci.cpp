// PUT DATA on the file control information of the current file (00 DA 01
// 6F): one element each, the access conditions, the secure-messaging
// requirements or the DF name. No life-cycle handling.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/elements.h"
#include "ombrix/status.h"

using namespace ombrix::r2;
namespace d = ombrix::descriptor;

namespace {

template <class Record>
long put_record(COmbrixR2& card, const Record* record, bool isSm, SMFLAGS* pSM)
{
    if (record == nullptr)
        return ombrix::OMBRIX_E_PERSO_NO_RECORD;
    FileControlUpdate update;
    (isSm ? update.sm : update.ac) = record_bytes(*record);
    Field data;
    append_file_control_update(data, update);
    return put_data(card, d::kPutFileControl, data, pSM);
}

} // namespace

// 86 09 and the record.
long COmbrixR2::cmdPUT_DATA_FCI(DFAC* pDFAC, SMFLAGS* pSM)
{
    return put_record(*this, pDFAC, false, pSM);
}

long COmbrixR2::cmdPUT_DATA_FCI(EFAC* pEFAC, SMFLAGS* pSM)
{
    return put_record(*this, pEFAC, false, pSM);
}

// 8B 18 and the record.
long COmbrixR2::cmdPUT_DATA_FCI(DFSM* pDFSM, SMFLAGS* pSM)
{
    return put_record(*this, pDFSM, true, pSM);
}

long COmbrixR2::cmdPUT_DATA_FCI(EFSM* pEFSM, SMFLAGS* pSM)
{
    return put_record(*this, pEFSM, true, pSM);
}

// 84, the length and the name.
long COmbrixR2::cmdPUT_DATA_FCI(unsigned char* pbName, unsigned char cbName, SMFLAGS* pSM)
{
    if (cbName != 0 && pbName == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    Field data;
    append_file_control_update(data, {.name = Bytes(pbName, cbName)});
    return put_data(*this, d::kPutFileControl, data, pSM);
}

// 84, the length and the name; always plain.
long COmbrixR2::Change_DFName(unsigned char* pbName, unsigned char cbName, SMFLAGS* /*pSM*/)
{
    if (cbName != 0 && pbName == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    Field data;
    append_file_control_update(data, {.name = Bytes(pbName, cbName)});
    return put_data(*this, d::kPutFileControl, data, nullptr);
}
