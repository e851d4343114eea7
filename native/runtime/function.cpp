// The function type: record life cycle (creation, garbage collection,
// deallocation), binding, representation and pickling.
#include "runtime/function.h"

#include <structmember.h>

#include <cstddef>
#include <cstring>

#include "runtime/compat.h"
#include "runtime/function_internal.h"
#include "runtime/metatype.h"
#include "runtime/ref.h"
#include "runtime/runtime_state.h"

namespace wsh {

namespace {

// Every object field the record owns, for traversal and clear alike. m_self
// is the function itself and holds no reference. name, qualname and
// annotations are writable from Python and so can close a cycle too (a str
// subclass instance carries a __dict__).
constexpr std::size_t owned_fields[] = {
    offsetof(BindingFunction, closure),
    offsetof(BindingFunction, base.m_module),
    offsetof(BindingFunction, instance_dict),
    offsetof(BindingFunction, name),
    offsetof(BindingFunction, qualname),
    offsetof(BindingFunction, doc),
    offsetof(BindingFunction, globals),
    offsetof(BindingFunction, code),
    offsetof(BindingFunction, defining_class),
    offsetof(BindingFunction, defaults),
    offsetof(BindingFunction, kwdefaults),
    offsetof(BindingFunction, annotations),
    offsetof(BindingFunction, coroutine_marker),
    offsetof(BindingFunction, defaults_holder),
};

PyObject*& field_at(PyObject* self, std::size_t offset) {
    return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(self) + offset);
}

// a type made from a PyType_Spec inherits object.__new__, which would
// build a record without any of the fields creation fills in.
PyObject* function_new(PyTypeObject*, PyObject*, PyObject*) {
    raise_cannot_instantiate();
    return nullptr;
}

int function_traverse(PyObject* self, visitproc visit, void* arg) {
    if constexpr (compat::traverse_visits_type) Py_VISIT(Py_TYPE(self));
    for (const std::size_t offset : owned_fields) Py_VISIT(field_at(self, offset));
    return 0;
}

// Each field is emptied before its old value is released.
int function_clear(PyObject* self) {
    for (const std::size_t offset : owned_fields) reset(field_at(self, offset));
    return 0;
}

void function_dealloc(PyObject* self) {
    // Every instance of a heap type holds a reference to its type; the
    // record's memory goes first, the type's reference last.
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
    PyObject_GC_UnTrack(self);
    if (as_function(self)->base.m_weakreflist != nullptr) PyObject_ClearWeakRefs(self);
    function_clear(self);
    PyObject_GC_Del(self);
    reset(type);
}

PyObject* function_repr(PyObject* self) {
    PyObject* qualname = as_function(self)->qualname;
    // A record cleared by the collector can still be reached from a finaliser.
    if (qualname == nullptr) qualname = str(runtime_state().unknown_name);
    return PyUnicode_FromFormat("<cyfunction %U at %p>", qualname, self);
}

// Fetched from an instance, the function becomes a method bound to it.
PyObject* function_descr_get(PyObject* self, PyObject* instance, PyObject* /*owner*/) {
    if (instance == nullptr) return new_reference(self);
    return PyMethod_New(self, instance);
}

// Pickling stores a reference to the global of this qualified name in the
// function's __module__.
PyObject* function_reduce(PyObject* self, PyObject*, PyObject*) {
    PyObject* qualname = as_function(self)->qualname;
    return new_reference(qualname != nullptr ? qualname : Py_None);
}

PyMethodDef function_methods[] = {
    {"__reduce__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function_reduce)),
     METH_VARARGS | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// The three offset entries are read by the registry's fix-ups, which give
// the type its dictionary, fast-call entry and weak-reference list.
PyMemberDef function_members[] = {
    {"__module__", T_OBJECT, offsetof(BindingFunction, base.m_module), 0, nullptr},
    {"__dictoffset__", T_PYSSIZET, offsetof(BindingFunction, instance_dict), READONLY, nullptr},
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(BindingFunction, base.vectorcall), READONLY,
     nullptr},
    {"__weaklistoffset__", T_PYSSIZET, offsetof(BindingFunction, base.m_weakreflist), READONLY,
     nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot function_type_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(function_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
    {Py_tp_call, reinterpret_cast<void*>(function_call)},
    {Py_tp_traverse, reinterpret_cast<void*>(function_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(function_clear)},
    {Py_tp_methods, function_methods},
    {Py_tp_members, function_members},
    {Py_tp_getset, function_getset},
    {Py_tp_descr_get, reinterpret_cast<void*>(function_descr_get)},
    {0, nullptr},
};

}  // namespace

// The immutable and no-instantiation flags are carried for interpreters
// that act on them; the metaclass gives both behaviours everywhere. The
// fast-call flag is not here: the registry's fix-ups set it together with
// the entry's offset.
PyType_Spec function_type_spec = {
    .name = "_cython_3_2_4amsendbackport.cython_function_or_method",
    .basicsize = sizeof(BindingFunction),
    .itemsize = 0,
    .flags = static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VERSION_TAG |
                                       Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_METHOD_DESCRIPTOR |
                                       Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE |
                                       Py_TPFLAGS_DISALLOW_INSTANTIATION),
    .slots = function_type_slots,
};

Ref create_function(PyMethodDef* method_def, int flags, PyObject* qualname, PyObject* closure,
                    PyObject* module_name, PyObject* globals, PyObject* code,
                    vectorcallfunc entry) {
    if (method_def == nullptr || qualname == nullptr || globals == nullptr) {
        PyErr_BadInternalCall();
        return Ref();
    }
    auto* type = reinterpret_cast<PyTypeObject*>(runtime_state().function_type.get());
    Ref self = Ref::steal(reinterpret_cast<PyObject*>(PyObject_GC_New(BindingFunction, type)));
    if (!self) return self;
    BindingFunction* op = as_function(self.get());
    // The allocator leaves the record as it found it: no path may see (or
    // deallocation release) what was there before.
    std::memset(reinterpret_cast<char*>(op) + sizeof(PyObject), 0,
                sizeof(BindingFunction) - sizeof(PyObject));
    op->flags = flags;
    op->base.m_ml = method_def;
    op->base.m_self = self.get();
    op->qualname = new_reference(qualname);
    op->globals = new_reference(globals);
    op->base.m_module = new_reference(module_name);
    op->closure = new_reference(closure);
    op->code = new_reference(code);
    if (select_fast_entry(method_def, flags, &op->base.vectorcall) < 0) return Ref();
    if (entry != nullptr) op->base.vectorcall = entry;
    PyObject_GC_Track(self.get());
    return self;
}

}  // namespace wsh
