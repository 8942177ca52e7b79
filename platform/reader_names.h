// Reading the resource manager's reader multi-string. Shared by the library
// and the tools (header only, so the tools need no export for it).
#pragma once

#include "platform/pcsc.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace ombrix::platform {

// The multi-string SCardListReaders answers, read into `names` with two zero
// bytes past whatever the platform writes: a walk over the names
// (name += strlen(name) + 1 until an empty name) then ends inside the buffer
// even when the list lacks its closing zeros, or lacks the zero of its last
// name. The list may also shrink between the sizing call and the read: the
// walk never goes past what the platform says it wrote. Errors of either call
// are returned as they are; `names` then holds no name. Allocation failure
// throws std::bad_alloc.
inline LONG read_reader_names(const PcscApi& api, SCARDCONTEXT context, std::vector<char>& names)
{
    names.assign(2, '\0');
    DWORD length = 0;
    LONG result = api.ListReadersA(context, nullptr, nullptr, &length);
    if (result != SCARD_S_SUCCESS)
        return result;
    names.assign(static_cast<std::size_t>(length) + 2, '\0');
    result = api.ListReadersA(context, nullptr, names.data(), &length);
    if (result != SCARD_S_SUCCESS) {
        names.assign(2, '\0');
        return result;
    }
    const std::size_t used = std::min<std::size_t>(length, names.size() - 2);
    names[used] = names[used + 1] = '\0';
    return SCARD_S_SUCCESS;
}

} // namespace ombrix::platform
