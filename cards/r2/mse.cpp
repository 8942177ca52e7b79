// MANAGE SECURITY ENVIRONMENT: RESTORE a stored environment, SET a key for a
// control reference template.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"

using ombrix::r2::Command;

namespace {
constexpr unsigned char kInsMse = 0x22;
constexpr unsigned char kMseRestore = 0xF3;
constexpr unsigned char kMseSet = 0xF1;
constexpr unsigned char kTagKeyReference = 0x83;
} // namespace

// 00 22 F3 bSE.
long COmbrixR2::cmdMSE(unsigned char bSE)
{
    return Command(*this, 0x00, kInsMse, kMseRestore, bSE).send();
}

// 00 22 F1 tag 03, 83 01 bKeyRef.
long COmbrixR2::cmdMSE(t_MSE_CSETAG tag, unsigned char bKeyRef)
{
    const unsigned char data[3] = {kTagKeyReference, 0x01, bKeyRef};
    return Command(*this, 0x00, kInsMse, kMseSet, static_cast<unsigned char>(tag)).data(data).send();
}
