// Internal: the shape every first-generation command shares. A command is an
// APDU built from its data span, one exchange through the session's virtual
// five-argument Send, and the status code of what came back.
//
//   r1::Answer answer;
//   const r1::Outcome out = r1::exchange(*this, r1::command(kInsGetData, 0x01, 0x83), answer);
//   if (out.status != 0)
//       return out.status;
#pragma once

#include "ombrix/ombrix_r1.h"

#include <array>
#include <cstddef>
#include <memory>
#include <span>

namespace ombrix::r1 {

// Transparent files move in chunks of 255 bytes: the largest data field of a
// short APDU, and the largest Le other than 0.
constexpr std::size_t kChunk = 255;
// P1-P2 carry the offset: the last chunk may start at FFFF and no later.
constexpr std::size_t kLastOffset = 0xFFFF;
constexpr std::size_t kMaxTransfer = kLastOffset + kChunk;

constexpr unsigned char kLifeCycleAdmin = 0x20;

// A command of class 00 (or `cla`); Lc is the size of `data`, at most 255 (the
// callers' lengths are one byte or a chunk).
APDU command(unsigned char ins, unsigned char p1, unsigned char p2,
             std::span<unsigned char> data = {}, unsigned char le = 0, unsigned char cla = 0x00);

// The caller gave a length but no bytes behind it.
constexpr bool missing(const void* data, std::size_t length)
{
    return data == nullptr && length != 0;
}

// READ BINARY / UPDATE BINARY at `offset` (at most kLastOffset), Le FF.
APDU read_binary(std::size_t offset);
APDU update_binary(std::size_t offset, std::span<unsigned char> chunk);

// What one exchange gave.
struct Outcome {
    long status = 0;       // 0 for 9000, else SW1*256+SW2, the PC/SC error or a library code
    bool answered = false; // a status word came back (whatever it was)
};

// Room for one answer's data; wiped when it goes, as it may hold keys or
// deciphered data.
struct Answer {
    std::array<unsigned char, 255> bytes{};
    unsigned char length = 0;
    ~Answer();
    std::span<const unsigned char> data() const { return {bytes.data(), length}; }
};

// One exchange through card.Send (virtual). A data field without data is
// refused here, unsent. `resp`/`resp_len` follow the session's rules: the
// answer's data (up to Le, or 255) go to `resp` whenever the card answered.
Outcome exchange(CCardSession& card, const APDU& apdu, unsigned char* resp = nullptr,
                 unsigned char* resp_len = nullptr);
inline Outcome exchange(CCardSession& card, const APDU& apdu, Answer& answer)
{
    return exchange(card, apdu, answer.bytes.data(), &answer.length);
}

// The administrative bracket: state 20 for the command, PHASE CONTROL after it.
enum class Closing {
    OnSuccess,   // only when the card answered 9000
    OnAnyAnswer, // whenever the card answered
};
long administer(COmbrixR1& card, const APDU& apdu, Closing closing);

// A heap buffer that may fail to allocate and is wiped before release.
class WipedBuffer {
public:
    explicit WipedBuffer(std::size_t size);
    ~WipedBuffer();
    WipedBuffer(const WipedBuffer&) = delete;
    WipedBuffer& operator=(const WipedBuffer&) = delete;

    explicit operator bool() const { return bytes_ != nullptr; }
    std::span<unsigned char> span() { return {bytes_.get(), size_}; }

private:
    std::unique_ptr<unsigned char[]> bytes_;
    std::size_t size_;
};

} // namespace ombrix::r1
