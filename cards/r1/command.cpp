// The shared shape of the first-generation commands.
#include "cards/r1/command.h"

#include "ombrix/status.h"
#include "shell/secure_zero.h"

#include <new>

namespace ombrix::r1 {

APDU command(unsigned char ins, unsigned char p1, unsigned char p2, std::span<unsigned char> data,
             unsigned char le, unsigned char cla)
{
    return APDU{cla, ins, p1, p2, static_cast<unsigned char>(data.size()), data.data(), le};
}

namespace {
unsigned char high(std::size_t offset) { return static_cast<unsigned char>(offset >> 8); }
unsigned char low(std::size_t offset) { return static_cast<unsigned char>(offset); }
} // namespace

APDU read_binary(std::size_t offset)
{
    return command(0xB0, high(offset), low(offset), {}, 0xFF);
}

APDU update_binary(std::size_t offset, std::span<unsigned char> chunk)
{
    // The card has always been sent Le FF behind the data.
    return command(0xD6, high(offset), low(offset), chunk, 0xFF);
}

Answer::~Answer()
{
    secure_zero(bytes.data(), bytes.size());
}

Outcome exchange(CCardSession& card, const APDU& apdu, unsigned char* resp, unsigned char* resp_len)
{
    if (apdu.Lc != 0 && apdu.data == nullptr)
        return {OMBRIX_E_INVALID_ARGUMENT, false};
    unsigned char sw1 = 0;
    unsigned char sw2 = 0;
    const long result = card.Send(apdu, resp, resp_len, &sw1, &sw2);
    if (result != 0)
        return {result, false};
    const long sw = sw1 * 256L + sw2;
    return {sw == 0x9000 ? 0 : sw, true};
}

WipedBuffer::WipedBuffer(std::size_t size)
    : bytes_(new (std::nothrow) unsigned char[size == 0 ? 1 : size]), size_(bytes_ ? size : 0)
{
}

WipedBuffer::~WipedBuffer()
{
    secure_zero(bytes_.get(), size_);
}

} // namespace ombrix::r1
