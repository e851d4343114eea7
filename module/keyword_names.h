// The keyword-name tuples of the bodies' keyword calls, built once after the
// constant table and owned by ModuleState for the process.
#pragma once

#include "module/state.h"

namespace wsh {

// 0, or -1 with an exception set.
int init_keyword_names(ModuleState& st);

}  // namespace wsh
