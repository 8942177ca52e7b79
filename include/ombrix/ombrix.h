// The Ombrix API: every exported class and record.
#pragma once

#include "ombrix/export.h"
#include "ombrix/version.h"
#include "ombrix/types.h"
#include "ombrix/status.h"
#include "ombrix/app.h"
#include "ombrix/trace_control.h"
#include "ombrix/progress.h"
#include "ombrix/card_session.h"
#include "ombrix/ombrix_r1.h"
#include "ombrix/card_sm.h"
#include "ombrix/ombrix_r2.h"
#include "ombrix/ombrix_r22.h"
#include "ombrix/selection.h"
