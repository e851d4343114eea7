// The module definition and the one exported symbol.
#include <Python.h>

#include "module/hooks.h"
#include "runtime/compat.h"

namespace wsh {

namespace {

PyMethodDef module_methods[] = {
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(module_create)},
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "workspace_handler",
    nullptr,
    0,
    module_methods,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace wsh

WSH_MODULE_INIT PyInit_workspace_handler() { return PyModuleDef_Init(&wsh::module_def); }
