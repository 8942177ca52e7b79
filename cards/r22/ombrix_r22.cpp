// COmbrixR22: no data of its own; construction, copies and destruction are
// those of COmbrixR2.
#include "ombrix/ombrix_r22.h"

COmbrixR22::COmbrixR22() : COmbrixR2() {}

COmbrixR22::COmbrixR22(const COmbrixR22& other) : COmbrixR2(other) {}

COmbrixR22& COmbrixR22::operator=(const COmbrixR22& other)
{
    COmbrixR2::operator=(other);
    return *this;
}

COmbrixR22::~COmbrixR22() = default;
