// Selecting, creating and deleting files.
#include "cards/r1/command.h"

#include "ombrix/status.h"

#include <array>

namespace r1 = ombrix::r1;

namespace {

constexpr unsigned char kInsSelect = 0xA4;
constexpr unsigned char kInsCreateFile = 0xE0;
constexpr unsigned char kInsDeleteFile = 0xE4;
constexpr unsigned char kSelectByFid = 0x00;
constexpr unsigned char kSelectPathFromMf = 0x08;

constexpr long kMaxFileSize = 0xFFFF; // two bytes under tag 81

// The one file control template the card takes: size, descriptor, identifier,
// three proprietary zero bytes, eleven access bytes. The access bytes are the
// card's: 01 where accessFlag is 0, 00 otherwise, in the positions below.
std::array<unsigned char, 33> file_template(unsigned char fdb, int accessFlag, long size,
                                            const unsigned char* fid, unsigned char recordSize)
{
    const unsigned char a = accessFlag == 0 ? 0x01 : 0x00;
    const auto sh = static_cast<unsigned char>(size >> 8);
    const auto sl = static_cast<unsigned char>(size);
    return {0x6F, 0x1F,                               //
            0x81, 0x02, sh,   sl,                     // file size
            0x82, 0x03, fdb,  0x00, recordSize,       // descriptor
            0x83, 0x02, fid[0], fid[1],               // identifier
            0x85, 0x03, 0x00, 0x00, 0x00,             //
            0x86, 0x0B, a,    a,    a,    a,    a,    0x00, 0x00, 0x00, a, a, 0x00};
}

} // namespace

long COmbrixR1::Select(unsigned char mode, unsigned char* path, unsigned char len)
{
    APDU apdu{};
    switch (mode) {
    case 1: // a file identifier: always two bytes, whatever len says
        if (path == nullptr)
            return ombrix::OMBRIX_E_INVALID_ARGUMENT;
        apdu = r1::command(kInsSelect, kSelectByFid, 0x00, {path, 2});
        break;
    case 2:
        if (r1::missing(path, len))
            return ombrix::OMBRIX_E_INVALID_ARGUMENT;
        apdu = r1::command(kInsSelect, kSelectPathFromMf, 0x00, {path, len});
        break;
    default:
        return ombrix::OMBRIX_E_BAD_SELECT_MODE;
    }
    return r1::exchange(*this, apdu).status;
}

long COmbrixR1::DeleteFileA(unsigned char* fid)
{
    if (fid == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    const APDU apdu = r1::command(kInsDeleteFile, 0x00, 0x00, {fid, 2});
    return r1::administer(*this, apdu, r1::Closing::OnSuccess);
}

long COmbrixR1::CreateFileA(unsigned char fdb, int accessFlag, long size, unsigned char* fid,
                            unsigned char recordSize)
{
    // A larger size would reach the card cut to its low sixteen bits.
    if (size < 0 || size > kMaxFileSize)
        return ombrix::OMBRIX_E_R1_BAD_FILE_SIZE;
    if (fid == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    auto fcp = file_template(fdb, accessFlag, size, fid, recordSize);
    const APDU apdu = r1::command(kInsCreateFile, 0x00, 0x00, fcp);
    return r1::administer(*this, apdu, r1::Closing::OnSuccess);
}
