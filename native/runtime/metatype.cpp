#include "runtime/metatype.h"

#include "runtime/compat.h"
#include "runtime/registry.h"

namespace wsh {

namespace {

PyObject* metatype_get_module(PyObject*, void*) {
    return PyUnicode_FromString(shared_registry_name);
}

// Calling a type of this metaclass would make an instance.
PyObject* metatype_call(PyObject*, PyObject*, PyObject*) {
    raise_cannot_instantiate();
    return nullptr;
}

// Making a type of this metaclass (deriving from one of its types) ends
// here: the interpreter's construction slot makes the type, this refuses
// it. The construction slot itself stays the interpreter's: a metaclass
// with one of its own cannot make types from a PyType_Spec, and one
// without any crashes `type(name, (a_type_of_ours,), {})`.
int metatype_init(PyObject*, PyObject*, PyObject*) {
    raise_cannot_instantiate();
    return -1;
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
    {Py_tp_init, reinterpret_cast<void*>(metatype_init)},
    {Py_tp_setattro, reinterpret_cast<void*>(metatype_setattro)},
    {Py_tp_getset, metatype_getset},
    {0, nullptr},
};

}  // namespace

void raise_cannot_instantiate() {
    PyErr_SetString(PyExc_TypeError, "Cannot instantiate Cython internal types");
}

// The immutable and no-instantiation flags are carried for interpreters
// that act on them; the slots above give both behaviours everywhere.
PyType_Spec common_metatype_spec = {
    .name = "_cython_3_2_4amsendbackport._common_types_metatype",
    .basicsize = 0,
    .itemsize = 0,
    .flags = static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VERSION_TAG |
                                       Py_TPFLAGS_IMMUTABLETYPE |
                                       Py_TPFLAGS_DISALLOW_INSTANTIATION),
    .slots = metatype_slots,
};

}  // namespace wsh
