// The process-wide registry through which modules built with the same runtime
// support share their function type and its metaclass.
#pragma once

#include <Python.h>

#include "runtime/ref.h"

namespace wsh {

inline constexpr const char shared_registry_name[] = "_cython_3_2_4amsendbackport";

// The type registered under the short name of `spec`, created and registered
// from `spec`, `bases` and `metaclass` if there is none yet; an empty handle
// with an exception set on failure.
Ref fetch_shared_type(PyTypeObject* metaclass, PyType_Spec* spec, PyObject* bases);

// Applies what the PyType_Spec's special member and attribute entries ask
// of a type made from it (offsets, __module__ descriptors): 0, or -1.
int apply_type_fixups(PyTypeObject* type, const PyType_Spec* spec);

}  // namespace wsh
