// The multi-phase initialisation hooks of the module definition.
#pragma once

#include <Python.h>

namespace wsh {

PyObject* module_create(PyObject* spec, PyModuleDef* def);
int module_exec(PyObject* module);

// Exec steps 3 to 9 (state, version check, constant table) and step 10 (the
// shared types), also used by the test-only module on its own state.
int init_state(PyObject* module);
int fetch_shared_types();

}  // namespace wsh
