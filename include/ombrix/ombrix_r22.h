// COmbrixR22: the R22 revision of the second-generation card, with its own
// personalization commands; everything else is COmbrixR2's.
#pragma once

#include "ombrix/export.h"
#include "ombrix/ombrix_r2.h"

class OMBRIX_API COmbrixR22 : public COmbrixR2 {
public:
    COmbrixR22();
    COmbrixR22(const COmbrixR22& other);
    COmbrixR22& operator=(const COmbrixR22& other);
    virtual ~COmbrixR22();
};
