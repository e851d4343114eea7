// The module definition and the one exported symbol.
#include <Python.h>

#include "module/hooks.h"

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
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "workspace_handler",
    .m_doc = nullptr,
    .m_size = 0,
    .m_methods = module_methods,
    .m_slots = module_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace

}  // namespace wsh

// The one symbol the shared object exports; everything else is built with
// hidden visibility.
extern "C" __attribute__((visibility("default"))) PyObject* PyInit_workspace_handler() { return PyModuleDef_Init(&wsh::module_def); }
