// The second-generation card object of the secure-messaging target, with
// the primitives its entries build well-formed protected responses with (so
// that the checks behind a valid MAC or padding are reached too).
#pragma once

#include "ombrix/ombrix_r2.h"

namespace ombrix::fuzz {

class SmBuilder : public COmbrixR2 {
public:
    using CCardSM::kObjectCapacity;
    using CCardSM::mkEnc;
    using CCardSM::mkMAC;
    using CCardSM::Object;
    using CCardSM::SM_MK_Header_Block;
};

} // namespace ombrix::fuzz
