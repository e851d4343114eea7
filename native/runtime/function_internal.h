// The pieces of the function type that live in their own files: the
// attribute table and the calling machinery.
#pragma once

#include <Python.h>

#include "runtime/function.h"

namespace wsh {

inline BindingFunction* as_function(PyObject* op) { return reinterpret_cast<BindingFunction*>(op); }

// runtime/function_attributes.cpp
extern PyGetSetDef function_getset[];

// runtime/function_call.cpp
// The fast-call entry for a definition's call convention and a function's
// binding flags (which fix where the entry's first argument comes from).
// Sets `*entry` (null when calls go through the call slot) and returns 0, or
// -1 with an exception for a convention the type cannot call.
int select_fast_entry(const PyMethodDef* method_def, int flags, vectorcallfunc* entry);
PyObject* function_call(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace wsh
