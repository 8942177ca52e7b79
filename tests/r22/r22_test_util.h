// A connected COmbrixR22 on a scripted card, with the helpers of the
// second-generation personalization tests.
#pragma once

#include "ombrix/ombrix_r22.h"
#include "tests/perso/perso_test_util.h"

namespace ombrix::test {

using DFACR22 = COmbrixR22::DFACR22;
using DFSMR22 = COmbrixR22::DFSMR22;
using EFACR22 = COmbrixR22::EFACR22;
using EFSMR22 = COmbrixR22::EFSMR22;
using BSACR22 = COmbrixR22::BSACR22;
using BSSMR22 = COmbrixR22::BSSMR22;

class R22Test : public CardTest<COmbrixR22> {
protected:
    COmbrixR22& r22_ = object_;
};

} // namespace ombrix::test
