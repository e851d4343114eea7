// The bodies of the handler's three methods, called by their wrappers with
// one value per parameter.
#pragma once

#include <Python.h>

namespace wsh {

PyObject* finish_with_result_body(PyObject* function, PyObject* self, PyObject* status_code,
                                  PyObject* result);
PyObject* get_body(PyObject* function, PyObject* self);
PyObject* post_body(PyObject* function, PyObject* self);

}  // namespace wsh
