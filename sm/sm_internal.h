// What the secure-messaging sources share: wiped scratch storage, the data
// object tags and the status-code conversion of the unsigned long results.
#pragma once

#include "ombrix/status.h"
#include "shell/secure_zero.h"

#include <cstddef>
#include <vector>

namespace ombrix::sm {

// Tags of the secure-messaging data objects.
constexpr unsigned char kTagCryptogram = 0x87;  // padding indicator 01, then the cryptogram
constexpr unsigned char kTagPlainValue = 0x81;
constexpr unsigned char kTagLe = 0x96;
constexpr unsigned char kTagMac = 0x8E;
constexpr unsigned char kPaddingIndicatorIso = 0x01;
constexpr unsigned char kMacLength = 8;
constexpr unsigned long kMacObjectLength = 10;  // 8E 08 MAC

constexpr unsigned char kClaSm4 = 0x04;
constexpr unsigned char kClaSmC = 0x0C;

// Largest plain data field each wrapper takes: the protected Lc is one byte.
constexpr unsigned kMaxDataSig4 = 247;     // Lc + 8
constexpr unsigned kMaxDataEnc4 = 247;     // pad(Lc) <= 248
constexpr unsigned kMaxDataEncSig4 = 239;  // pad(Lc + 8) <= 248
constexpr unsigned kMaxDataEncSigC = 239;  // pad(Lc) + 13 <= 255
constexpr unsigned kMaxDataSigC = 238;     // pad0(Lc + 2) + 13 <= 255
constexpr unsigned kMaxDataEncC = 247;     // pad(Lc) + 6 <= 255

constexpr unsigned long kRefused = static_cast<unsigned long>(-1L);

inline unsigned long as_result(long status) { return static_cast<unsigned long>(status); }

// A heap buffer that is wiped before it is released: plaintext, MAC input.
class WipedBuffer {
public:
    explicit WipedBuffer(std::size_t size) : bytes_(size, 0) {}
    ~WipedBuffer() { secure_zero(bytes_.data(), bytes_.size()); }
    WipedBuffer(const WipedBuffer&) = delete;
    WipedBuffer& operator=(const WipedBuffer&) = delete;

    unsigned char* data() { return bytes_.data(); }
    std::size_t size() const { return bytes_.size(); }

private:
    std::vector<unsigned char> bytes_;
};

// Wipes a fixed buffer (a std::array or a C array) at the end of a scope.
template <class T>
class WipeOnExit {
public:
    explicit WipeOnExit(T& object) : object_(object) {}
    ~WipeOnExit() { secure_zero(&object_, sizeof object_); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    T& object_;
};

} // namespace ombrix::sm
