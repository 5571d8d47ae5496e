#pragma once

// The dataset framework in one include: components (component.h), the
// dataset and its record window and state machine (dataset.h, start
// there), fields (field.h), field and index definitions (field_defs.h,
// index_defs.h), data sources and links (data_source.h), parameters
// (params.h), the exact date-time edge (host_date_time.h) and the shared
// states, options and messages (db_common.h). None of it depends on the
// engine beyond engine/platform and engine/base.

#include "components/component.h"
#include "components/data_source.h"
#include "components/dataset.h"
#include "components/db_common.h"
#include "components/field.h"
#include "components/field_defs.h"
#include "components/host_date_time.h"
#include "components/index_defs.h"
#include "components/params.h"
