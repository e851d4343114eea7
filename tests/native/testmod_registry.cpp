// A small type whose PyType_Spec carries the special member entries, to
// show what the registry's fix-ups make of them.
#include <Python.h>
#include <structmember.h>

#include <cstddef>

#include "runtime/compat.h"
#include "runtime/registry.h"
#include "runtime/runtime_state.h"
#include "tests/native/testmod.h"

namespace wsh::testmod {

namespace {

struct FixupRecord {
    PyObject_HEAD
    PyObject* instance_dict;
    PyObject* weakreflist;
    vectorcallfunc vectorcall;
    PyObject* module;
};

PyObject* fixup_vectorcall(PyObject*, PyObject* const*, size_t, PyObject*) {
    return PyUnicode_FromString("vectorcall");
}

PyObject* fixup_call(PyObject*, PyObject*, PyObject*) { return PyUnicode_FromString("tp_call"); }

PyObject* fixup_new(PyTypeObject* type, PyObject*, PyObject*) {
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    auto* record = reinterpret_cast<FixupRecord*>(self.get());
    record->vectorcall = fixup_vectorcall;
    record->module = PyUnicode_FromString("from-the-member");
    if (record->module == nullptr) return nullptr;
    return self.release();
}

int fixup_traverse(PyObject* self, visitproc visit, void* arg) {
    auto* record = reinterpret_cast<FixupRecord*>(self);
    Py_VISIT(record->instance_dict);
    Py_VISIT(record->module);
    return 0;
}

int fixup_clear(PyObject* self) {
    auto* record = reinterpret_cast<FixupRecord*>(self);
    reset(record->instance_dict);
    reset(record->module);
    return 0;
}

void fixup_dealloc(PyObject* self) {
    // The instance's reference to its heap type goes last.
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
    PyObject_GC_UnTrack(self);
    if (reinterpret_cast<FixupRecord*>(self)->weakreflist != nullptr) PyObject_ClearWeakRefs(self);
    fixup_clear(self);
    Py_TYPE(self)->tp_free(self);
    reset(type);
}

PyMemberDef fixup_members[] = {
    {"__module__", T_OBJECT, offsetof(FixupRecord, module), 0, nullptr},
    {"__dictoffset__", T_PYSSIZET, offsetof(FixupRecord, instance_dict), READONLY, nullptr},
    {"__weaklistoffset__", T_PYSSIZET, offsetof(FixupRecord, weakreflist), READONLY, nullptr},
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(FixupRecord, vectorcall), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef fixup_getset[] = {
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot fixup_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(fixup_new)},
    {Py_tp_call, reinterpret_cast<void*>(fixup_call)},
    {Py_tp_traverse, reinterpret_cast<void*>(fixup_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(fixup_clear)},
    {Py_tp_dealloc, reinterpret_cast<void*>(fixup_dealloc)},
    {Py_tp_members, fixup_members},
    {Py_tp_getset, fixup_getset},
    {0, nullptr},
};

PyType_Spec fixup_spec = {
    .name = "_wsh_testmod_registry.fixup_test_type",
    .basicsize = sizeof(FixupRecord),
    .itemsize = 0,
    .flags = static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC),
    .slots = fixup_slots,
};

// make_fixup_type(): a new, unregistered type from the PyType_Spec with
// the fix-ups applied.
PyObject* make_fixup_type(PyObject*, PyObject*) {
    Ref type = Ref::steal(PyType_FromSpec(&fixup_spec));
    if (!type) return nullptr;
    if (apply_type_fixups(reinterpret_cast<PyTypeObject*>(type.get()), &fixup_spec) < 0) {
        return nullptr;
    }
    return type.release();
}

// fetch_fixup_type(): the registry's type for the PyType_Spec, with the
// shared metaclass.
PyObject* fetch_fixup_type(PyObject*, PyObject*) {
    return fetch_shared_type(reinterpret_cast<PyTypeObject*>(runtime_state().common_metatype.get()),
                             &fixup_spec, nullptr)
        .release();
}

// The offsets the PyType_Spec names, and those a type actually has.
PyObject* fixup_offsets(PyObject*, PyObject*) {
    return Py_BuildValue("{s:n,s:n,s:n,s:n}", "dict", offsetof(FixupRecord, instance_dict),
                         "weaklist", offsetof(FixupRecord, weakreflist), "vectorcall",
                         offsetof(FixupRecord, vectorcall), "size", sizeof(FixupRecord));
}

PyObject* type_offsets(PyObject*, PyObject* arg) {
    if (!PyType_Check(arg)) {
        PyErr_SetString(PyExc_TypeError, "expected a type");
        return nullptr;
    }
    auto* t = reinterpret_cast<PyTypeObject*>(arg);
    return Py_BuildValue("{s:n,s:n,s:n,s:n,s:O}", "dict", t->tp_dictoffset, "weaklist",
                         t->tp_weaklistoffset, "vectorcall", t->tp_vectorcall_offset, "size",
                         t->tp_basicsize, "vectorcall_flag",
                         (t->tp_flags & compat::tpflags_have_vectorcall) ? Py_True : Py_False);
}

// new_instance(type): an instance made by the type's construction slot
// directly, bypassing the metaclass.
PyObject* new_instance(PyObject*, PyObject* arg) {
    if (!PyType_Check(arg)) {
        PyErr_SetString(PyExc_TypeError, "expected a type");
        return nullptr;
    }
    auto* t = reinterpret_cast<PyTypeObject*>(arg);
    return t->tp_new(t, runtime_state().empty_tuple.get(), nullptr);
}

}  // namespace

PyMethodDef registry_methods[] = {
    {"make_fixup_type", make_fixup_type, METH_NOARGS, nullptr},
    {"fetch_fixup_type", fetch_fixup_type, METH_NOARGS, nullptr},
    {"fixup_offsets", fixup_offsets, METH_NOARGS, nullptr},
    {"type_offsets", type_offsets, METH_O, nullptr},
    {"new_instance", new_instance, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace wsh::testmod
