// The module body's nine import statements, run in source order.
#pragma once

namespace wsh {

// Runs the statements, binding their names in the module dictionary: 0, or
// -1 with an exception set and `*failed_line` set to the failing
// statement's line.
int run_import_statements(int* failed_line);

}  // namespace wsh
