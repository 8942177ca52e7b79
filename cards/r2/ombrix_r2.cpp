// COmbrixR2: construction, copies and destruction. The class has no data of
// its own: everything lives in the session and secure-messaging bases.
#include "ombrix/ombrix_r2.h"

COmbrixR2::COmbrixR2() : CCardSM() {}

COmbrixR2::COmbrixR2(const COmbrixR2& other) : CCardSM(other) {}

COmbrixR2& COmbrixR2::operator=(const COmbrixR2& other)
{
    CCardSM::operator=(other);
    return *this;
}

COmbrixR2::~COmbrixR2() = default;
