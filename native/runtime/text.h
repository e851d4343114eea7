// Text of objects: decimal text of a machine integer, str() of an object.
#pragma once

#include <Python.h>

#include <cstdint>

#include "runtime/ref.h"

namespace wsh {

// A new str with the plain decimal text of `value` (no grouping, no plus
// sign), or an empty handle with an exception set.
Ref int_to_str(std::int64_t value);

// str(value), or an empty handle with an exception set: an exact str is
// used as it is.
inline Ref text_of(PyObject* value) {
    if (PyUnicode_CheckExact(value)) return Ref::borrow(value);
    return Ref::steal(PyObject_Str(value));
}

}  // namespace wsh
