// The shared metaclass of the runtime's own types: such types cannot be
// called, derived from or changed from Python, and report the registry as
// their module.
#include <Python.h>

#include "runtime/registry.h"

namespace wsh {

namespace {

PyObject* metatype_get_module(PyObject*, void*) {
    return PyUnicode_FromString(shared_registry_name);
}

PyObject* metatype_call(PyObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, "Cannot instantiate Cython internal types");
    return nullptr;
}

PyObject* metatype_new(PyTypeObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, "Cannot instantiate Cython internal types");
    return nullptr;
}

int metatype_setattro(PyObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, "Cython internal types are immutable");
    return -1;
}

PyGetSetDef metatype_getset[] = {
    {"__module__", metatype_get_module, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot metatype_slots[] = {
    {Py_tp_call, reinterpret_cast<void*>(metatype_call)},
    {Py_tp_new, reinterpret_cast<void*>(metatype_new)},
    {Py_tp_setattro, reinterpret_cast<void*>(metatype_setattro)},
    {Py_tp_getset, metatype_getset},
    {0, nullptr},
};

// Immutable (0x100) and no-instantiation (0x80) are carried for interpreters
// that act on them; the slots above give both behaviours everywhere.
constexpr unsigned long metatype_flag_immutable = 0x100;
constexpr unsigned long metatype_flag_no_instantiation = 0x80;

}  // namespace

PyType_Spec common_metatype_spec = {
    "_cython_3_2_4amsendbackport._common_types_metatype",
    0,
    0,
    static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VERSION_TAG |
                              metatype_flag_immutable | metatype_flag_no_instantiation),
    metatype_slots,
};

}  // namespace wsh
