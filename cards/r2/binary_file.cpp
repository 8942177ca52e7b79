// Length-prefixed transparent files: two bytes of content length, high byte
// first, then the content. Always on the plain path.
#include "ombrix/ombrix_r2.h"

#include "ombrix/status.h"
#include "shell/secure_zero.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr unsigned long kPrefix = 2;
constexpr unsigned long kMaxContent = 0xFFFF;

// A heap buffer for the whole file image, wiped when it goes: the content
// may be anything the application keeps on the card.
class FileImage {
public:
    explicit FileImage(unsigned long size)
        : size_(size), bytes_(new (std::nothrow) unsigned char[size])
    {
    }
    ~FileImage() { ombrix::secure_zero(bytes_.get(), bytes_ ? size_ : 0); }
    FileImage(const FileImage&) = delete;
    FileImage& operator=(const FileImage&) = delete;
    unsigned char* data() { return bytes_.get(); }
    explicit operator bool() const { return bytes_ != nullptr; }

private:
    unsigned long size_;
    std::unique_ptr<unsigned char[]> bytes_;
};

} // namespace

// One write from offset 0: length prefix and content.
long COmbrixR2::WriteBinaryFile(unsigned char* pbData, unsigned long dwLen, SMFLAGS* /*pSM*/)
{
    if (dwLen > kMaxContent)
        return ombrix::OMBRIX_E_R2_FILE_TOO_LONG; // the prefix holds 16 bits
    if (dwLen != 0 && pbData == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    FileImage image(dwLen + kPrefix);
    if (!image)
        return ombrix::OMBRIX_E_NO_MEMORY;
    image.data()[0] = static_cast<unsigned char>(dwLen >> 8);
    image.data()[1] = static_cast<unsigned char>(dwLen);
    if (dwLen != 0)
        std::memcpy(image.data() + kPrefix, pbData, dwLen);
    return cmdUPDATE_BINARY(image.data(), dwLen + kPrefix, nullptr);
}

// The prefix first, then the whole file from offset 0 (prefix included).
long COmbrixR2::ReadBinaryFile(unsigned char* pbOut, unsigned long* pdwLen, SMFLAGS* /*pSM*/)
{
    if (pdwLen == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    unsigned char prefix[kPrefix] = {};
    unsigned long prefixLen = kPrefix;
    if (long rc = cmdREAD_BINARY(prefix, &prefixLen, nullptr); rc != 0)
        return rc;
    const unsigned long length = prefix[0] * 256ul + prefix[1];
    if (pbOut == nullptr || length > *pdwLen) {
        *pdwLen = length; // what the caller needs
        return pbOut == nullptr ? 0 : ombrix::OMBRIX_E_BUFFER_TOO_SMALL;
    }
    FileImage image(length + kPrefix);
    if (!image)
        return ombrix::OMBRIX_E_NO_MEMORY;
    unsigned long imageLen = length + kPrefix;
    if (long rc = cmdREAD_BINARY(image.data(), &imageLen, nullptr); rc != 0)
        return rc;
    if (length != 0)
        std::memcpy(pbOut, image.data() + kPrefix, length);
    *pdwLen = length;
    return 0;
}
