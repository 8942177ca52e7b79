// Length-prefixed files: a transparent file holding a two-byte length, high
// byte first, and that many content bytes.
#include "cards/r1/command.h"

#include "ombrix/status.h"

#include <algorithm>

namespace r1 = ombrix::r1;

namespace {

constexpr std::size_t kHeader = 2;
constexpr std::size_t kMaxContent = 0xFFFF;

} // namespace

long COmbrixR1::WriteBinaryFile(unsigned char* data, unsigned long len)
{
    // A longer content cannot be told in the two length bytes.
    if (len > kMaxContent)
        return ombrix::OMBRIX_E_BAD_FILE_LENGTH;
    if (r1::missing(data, len))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    r1::WipedBuffer file(kHeader + len);
    if (!file)
        return ombrix::OMBRIX_E_FAILED;
    const auto bytes = file.span();
    bytes[0] = static_cast<unsigned char>(len >> 8);
    bytes[1] = static_cast<unsigned char>(len);
    std::copy_n(data, len, bytes.begin() + kHeader);
    return UpdateBinary(bytes.data(), static_cast<unsigned long>(bytes.size()));
}

long COmbrixR1::ReadBinaryFile(unsigned char* buf, unsigned long* pLen)
{
    if (pLen == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    unsigned char header[kHeader] = {};
    unsigned long header_length = kHeader;
    if (const long rc = ReadBinary(header, &header_length); rc != 0)
        return rc;
    const std::size_t content = header[0] * 256u + header[1];
    if (content > *pLen) {
        *pLen = static_cast<unsigned long>(content);
        return ombrix::OMBRIX_E_BAD_FILE_LENGTH;
    }
    if (r1::missing(buf, content))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;

    // The header comes again with the content: the file is read from offset 0.
    r1::WipedBuffer file(kHeader + content);
    if (!file)
        return ombrix::OMBRIX_E_FAILED;
    const auto bytes = file.span();
    unsigned long size = static_cast<unsigned long>(bytes.size());
    if (const long rc = ReadBinary(bytes.data(), &size); rc != 0)
        return rc;
    std::copy(bytes.begin() + kHeader, bytes.end(), buf);
    *pLen = static_cast<unsigned long>(content);
    return 0;
}
