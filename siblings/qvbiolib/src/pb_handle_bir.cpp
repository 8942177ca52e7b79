#include "qvbiolib/pb_handle_bir.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Short command: 5 header bytes and at most 255 data bytes.
constexpr std::size_t kMaxHeader = 5;
constexpr std::size_t kMaxPiece = 255;

int code(LONG rc) { return static_cast<int>(rc); }

// Not optimized away: the record is a biometric template.
void wipe_bytes(void* data, std::size_t size)
{
    volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
    while (size-- != 0)
        *p++ = 0;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

PbHandleBir::PbHandleBir() : transmit_(&SCardTransmit) {}

PbHandleBir::~PbHandleBir() { wipe(); }

PbHandleBir::PbHandleBir(const PbHandleBir& other)
    : record_(other.record_), loaded_(other.loaded_), transmit_(other.transmit_)
{
}

PbHandleBir& PbHandleBir::operator=(const PbHandleBir& other)
{
    if (this != &other) {
        record_ = other.record_;
        loaded_ = other.loaded_;
        transmit_ = other.transmit_;
    }
    return *this;
}

void PbHandleBir::wipe()
{
    wipe_bytes(record_.data(), record_.size());
    loaded_ = false;
}

int PbHandleBir::from_bytes(const unsigned char* record, std::size_t length)
{
    if (record == nullptr || length != kRecordSize)
        return code(SCARD_E_INVALID_VALUE);
    std::memcpy(record_.data(), record, kRecordSize);
    loaded_ = true;
    return 0;
}

int PbHandleBir::from_file(const char* path)
{
    if (path == nullptr)
        return code(SCARD_E_INVALID_PARAMETER);
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file)
        return code(SCARD_E_FILE_NOT_FOUND);
    std::array<unsigned char, kRecordSize + 1> bytes{};
    const std::size_t n = std::fread(bytes.data(), 1, bytes.size(), file.get());
    const bool read_error = std::ferror(file.get()) != 0;
    int rc = read_error ? code(SCARD_E_FILE_NOT_FOUND)
             : n != kRecordSize ? code(SCARD_E_INVALID_VALUE) // a record is exactly 720 bytes
                                : from_bytes(bytes.data(), kRecordSize);
    wipe_bytes(bytes.data(), bytes.size());
    return rc;
}

void PbHandleBir::set_transmit(TransmitFn transmit)
{
    transmit_ = transmit != nullptr ? transmit : &SCardTransmit;
}

int PbHandleBir::write_bir_to_card(unsigned int offset, unsigned int cbHeader, unsigned int cbPiece,
                                   unsigned long hCard, SCARD_IO_REQUEST* pioSendPci,
                                   const unsigned char* pbHeader, unsigned long cbSend,
                                   SCARD_IO_REQUEST* pioRecvPci, unsigned char* pbRecv,
                                   unsigned long* pcbRecv)
{
    if (!loaded_)
        return code(SCARD_E_INVALID_VALUE);
    if (pioSendPci == nullptr || pbHeader == nullptr || pbRecv == nullptr || pcbRecv == nullptr ||
        cbHeader == 0 || cbHeader > kMaxHeader || cbPiece > kMaxPiece ||
        cbSend != static_cast<unsigned long>(cbHeader) + cbPiece || offset > kRecordSize ||
        cbPiece > kRecordSize - offset)
        return code(SCARD_E_INVALID_PARAMETER);

    std::array<unsigned char, kMaxHeader + kMaxPiece> command{};
    std::memcpy(command.data(), pbHeader, cbHeader);
    std::memcpy(command.data() + cbHeader, record_.data() + offset, cbPiece);
    DWORD received = static_cast<DWORD>(*pcbRecv);
    const LONG rc = transmit_(static_cast<SCARDHANDLE>(hCard), pioSendPci, command.data(),
                              static_cast<DWORD>(cbSend), pioRecvPci, pbRecv, &received);
    wipe_bytes(command.data(), command.size());
    if (rc != SCARD_S_SUCCESS)
        return code(rc);
    // A transmission never reports more than the buffer it was given.
    const std::size_t n = std::min<std::size_t>(received, *pcbRecv);
    *pcbRecv = n;
    // The answer is data ‖ SW1 SW2: the status word goes first.
    if (n >= 2)
        std::rotate(pbRecv, pbRecv + n - 2, pbRecv + n);
    return 0;
}
