// What the secure-messaging sources share: wiped scratch storage, the data
// object tags and the status-code conversion of the unsigned long results.
#pragma once

#include "ombrix/status.h"
#include "shell/secure_zero.h"

#include <cstddef>
#include <memory>
#include <new>

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
// Zero-filled; empty (false) when it cannot be allocated: nothing here may
// throw across the library's interface.
class WipedBuffer {
public:
    explicit WipedBuffer(std::size_t size)
        : bytes_(new (std::nothrow) unsigned char[size == 0 ? 1 : size]()),
          size_(bytes_ ? size : 0)
    {
    }
    ~WipedBuffer() { secure_zero(bytes_.get(), size_); }
    WipedBuffer(const WipedBuffer&) = delete;
    WipedBuffer& operator=(const WipedBuffer&) = delete;

    explicit operator bool() const { return bytes_ != nullptr; }
    unsigned char* data() { return bytes_.get(); }
    std::size_t size() const { return size_; }

private:
    std::unique_ptr<unsigned char[]> bytes_;
    std::size_t size_;
};

// What a wrap or check returns when a buffer cannot be had or the engine fails.
inline const unsigned long kNoMemory = static_cast<unsigned long>(OMBRIX_E_NO_MEMORY);
inline const unsigned long kEngineFailed = static_cast<unsigned long>(OMBRIX_E_SM_CRYPTO);

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
