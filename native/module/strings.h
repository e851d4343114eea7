// Expansion of the compressed constant table into the runtime's table.
#pragma once

#include "module/state.h"

namespace wsh {

// Fills st.strings from the stored stream: 0, or -1 with an exception set.
int init_strings(ModuleState& st);

}  // namespace wsh
