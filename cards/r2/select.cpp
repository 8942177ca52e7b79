// SELECT FILE: selection by identifier, parent, name or path, and the size of
// the selected EF from its file control parameters.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"
#include "ombrix/status.h"

#include <optional>
#include <span>

using ombrix::r2::Command;

namespace {

constexpr unsigned char kInsSelect = 0xA4;
constexpr unsigned char kLeFileControl = 0x10;
constexpr std::size_t kMaxSizeBytes = 4; // unsigned long is 32 bits on some platforms

// The command data of a selection mode, or nullopt for a mode the card does
// not take (5, 6, 7, above 9). Names and paths that are only the MF's
// identifier 3F 00 select the MF without data.
std::optional<std::span<const unsigned char>> selection_data(int mode, const unsigned char* pbData,
                                                            unsigned char cbData)
{
    switch (mode) {
    case COmbrixR2::SEL_FID:
    case COmbrixR2::SEL_CHILD_DF:
    case COmbrixR2::SEL_EF:
        return std::span<const unsigned char>(pbData, pbData ? 2 : 0);
    case COmbrixR2::SEL_PARENT:
        return std::span<const unsigned char>();
    case COmbrixR2::SEL_DF_NAME:
    case COmbrixR2::SEL_PATH_MF:
        if (cbData == 2 && pbData != nullptr && pbData[0] == 0x3F && pbData[1] == 0x00)
            return std::span<const unsigned char>();
        return std::span<const unsigned char>(pbData, pbData ? cbData : 0);
    case COmbrixR2::SEL_PATH_CURRENT:
        return std::span<const unsigned char>(pbData, pbData ? cbData : 0);
    default:
        return std::nullopt;
    }
}

// A null pointer where the mode needs bytes.
bool data_missing(int mode, const unsigned char* pbData, unsigned char cbData)
{
    if (pbData != nullptr || mode == COmbrixR2::SEL_PARENT)
        return false;
    return mode <= COmbrixR2::SEL_EF || cbData != 0;
}

} // namespace

// 00 A4 mode 00 [data], no Le.
long COmbrixR2::cmdSELECT_FILE(t_PARAM mode, unsigned char* pbData, unsigned char cbData,
                               SMFLAGS* pSM)
{
    const auto data = selection_data(mode, pbData, cbData);
    if (!data)
        return ombrix::OMBRIX_E_BAD_SELECT_MODE;
    if (data_missing(mode, pbData, cbData))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    return Command(*this, 0x00, kInsSelect, static_cast<unsigned char>(mode), 0x00)
        .data(*data)
        .protect(pSM)
        .send();
}

// 00 A4 mode 00 [data] 10 (the bridge drops the Le when protected). The
// answer's first object is the size: tag at byte 2, length L at byte 3, the
// value in the L bytes from byte 4.
long COmbrixR2::cmdGET_FILE_SIZE(t_PARAM mode, unsigned char* pbData, unsigned char cbData,
                                 unsigned long* pdwSize, SMFLAGS* pSM)
{
    const auto data = selection_data(mode, pbData, cbData);
    if (!data)
        return ombrix::OMBRIX_E_BAD_SELECT_MODE;
    if (pdwSize == nullptr || data_missing(mode, pbData, cbData))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    Command cmd(*this, 0x00, kInsSelect, static_cast<unsigned char>(mode), 0x00);
    if (long rc = cmd.data(*data).le(kLeFileControl).protect(pSM).send(); rc != 0)
        return rc;
    const auto fcp = cmd.response();
    if (fcp.size() < 4)
        return ombrix::OMBRIX_E_R2_SHORT_DATA;
    const std::size_t length = fcp[3];
    if (length == 0 || length > kMaxSizeBytes)
        return ombrix::OMBRIX_E_R2_BAD_FCI;
    if (fcp.size() < 4 + length)
        return ombrix::OMBRIX_E_R2_SHORT_DATA;
    unsigned long size = 0;
    for (std::size_t i = 0; i < length; ++i)
        size = size << 8 | fcp[4 + i];
    *pdwSize = size;
    return 0;
}
