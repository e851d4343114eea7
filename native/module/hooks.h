// The multi-phase initialisation hooks of the module definition.
#pragma once

#include <Python.h>

namespace wsh {

PyObject* module_create(PyObject* spec, PyModuleDef* def);
int module_exec(PyObject* module);

// The exec hook's first steps, apart so that the test-only module fills its
// own copy of the state the same way.
int init_state(PyObject* module);
int fetch_shared_types();

}  // namespace wsh
