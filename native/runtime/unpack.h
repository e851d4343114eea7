// Unpacking a value into a fixed number of targets, with the interpreter's
// error texts.
#pragma once

#include <Python.h>

#include "runtime/ref.h"

namespace wsh {

// Raises ValueError "need more than N value(s) to unpack".
void raise_need_more_values(Py_ssize_t count);

// Fills targets[0..count) with new references to the value's items: exact
// tuples and lists directly, anything else by iteration. 0, or -1 with an
// exception set and every target empty.
int unpack_values(PyObject* value, Ref* targets, Py_ssize_t count);

// The two-target form the method bodies use.
inline int unpack_pair(PyObject* value, Ref& first, Ref& second) {
    Ref targets[2];
    if (unpack_values(value, targets, 2) < 0) return -1;
    first = std::move(targets[0]);
    second = std::move(targets[1]);
    return 0;
}

}  // namespace wsh
