// The bodies of the handler's three methods, called by their wrappers with
// one value per parameter: None after an answer, else an empty handle with
// the exception set.
#pragma once

#include <Python.h>

#include "runtime/ref.h"

namespace wsh {

Ref finish_with_result_body(PyObject* function, PyObject* self, PyObject* status_code,
                            PyObject* result);
Ref get_body(PyObject* function, PyObject* self);
Ref post_body(PyObject* function, PyObject* self);

}  // namespace wsh
