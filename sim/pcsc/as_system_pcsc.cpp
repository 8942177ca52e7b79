// In the test executables the in-process PC/SC is the platform's PC/SC.
#include "platform/pcsc.h"
#include "sim/pcsc/inproc_pcsc.h"

namespace ombrix::platform {

const PcscApi& system_pcsc() { return sim::inproc_pcsc_api(); }

} // namespace ombrix::platform
