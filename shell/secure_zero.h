// Wiping buffers that held PINs, keys or deciphered data.
#pragma once

#include <cstddef>
#include <openssl/crypto.h>

namespace ombrix {

inline void secure_zero(void* data, std::size_t size)
{
    if (data != nullptr && size != 0)
        OPENSSL_cleanse(data, size);
}

} // namespace ombrix
