// The multi-phase initialisation hooks of the module definition.
#pragma once

#include <Python.h>

namespace wsh {

PyObject* module_create(PyObject* spec, PyModuleDef* def);
int module_exec(PyObject* module);

// What the exec hook does before the first statement of the module body
// (the module's dictionary, the builtins, the version check, the empty
// objects, the constant table) and then the shared types: also used by the
// test-only module on its own state.
int init_state(PyObject* module);
int fetch_shared_types();

}  // namespace wsh
