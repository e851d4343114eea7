// The module body's nine import statements, run in source order.
#pragma once

#include "module/state.h"

namespace wsh {

// Runs the statements, binding their names in st.module_dict: 0, or -1 with
// an exception set and `*failed_line` set to the failing statement's line.
int run_import_statements(ModuleState& st, int* failed_line);

}  // namespace wsh
