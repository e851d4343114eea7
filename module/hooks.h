// The multi-phase initialisation hooks of the module definition.
#pragma once

#include <Python.h>

namespace wsh {

PyObject* module_create(PyObject* spec, PyModuleDef* def);
int module_exec(PyObject* module);

}  // namespace wsh
