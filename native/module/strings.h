// Expansion of the compressed constant table into the runtime's table.
#pragma once

#include "runtime/runtime_state.h"

namespace wsh {

// Fills rt.strings from the stored stream: 0, or -1 with an exception set.
int init_strings(RuntimeState& rt);

}  // namespace wsh
