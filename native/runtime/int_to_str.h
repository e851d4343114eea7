// Decimal text of a machine integer.
#pragma once

#include <Python.h>

#include <cstdint>

namespace wsh {

// A new str with the plain decimal text of `value` (no grouping, no plus
// sign), or null with an exception set.
PyObject* int_to_str(std::int64_t value);

}  // namespace wsh
