#include "platform/pcsc.h"

#include <atomic>

namespace ombrix::platform {

namespace {
std::atomic<const PcscApi*> g_override{nullptr};
}

const PcscApi& pcsc()
{
    const PcscApi* api = g_override.load(std::memory_order_acquire);
    return api ? *api : system_pcsc();
}

void use_pcsc(const PcscApi* api)
{
    g_override.store(api, std::memory_order_release);
}

} // namespace ombrix::platform
