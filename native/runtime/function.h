// The module's function type ("cython_function_or_method"): native methods
// that behave like Python functions where Python code looks.
#pragma once

#include <Python.h>

#include "runtime/compat.h"
#include "runtime/ref.h"

namespace wsh {

// Binding flags of a function object.
inline constexpr int BINDING_STATIC = 1;
inline constexpr int BINDING_NATIVE_METHOD = 4;
inline constexpr int BINDING_COROUTINE = 8;

// The record begins with the interpreter's built-in function record, so code
// that reads a built-in function's definition and self reads the same fields.
struct BindingFunction {
    PyCFunctionObject base;  // m_ml, m_self (not counted), m_module, m_weakreflist, vectorcall
    PyObject* instance_dict;
    PyObject* name;
    PyObject* qualname;
    PyObject* doc;
    PyObject* globals;
    PyObject* code;
    PyObject* closure;
    PyObject* defining_class;
    PyObject* defaults_holder;
    int flags;
    PyObject* defaults;
    PyObject* kwdefaults;
    PyObject* (*defaults_provider)(PyObject* function);
    PyObject* annotations;
    PyObject* coroutine_marker;
};

// The call-convention bits of a method definition's flags; the others only
// qualify the convention.
inline constexpr int call_convention_mask =
    METH_VARARGS | METH_KEYWORDS | METH_NOARGS | METH_O | METH_FASTCALL | METH_METHOD;

// True when the instance is handed to the entry point from the arguments.
inline bool takes_instance_from_arguments(int flags) {
    return (flags & (BINDING_STATIC | BINDING_NATIVE_METHOD)) == BINDING_NATIVE_METHOD;
}

// A method definition stores its entry point as the interpreter's generic
// PyCFunction whatever the convention: stored_entry_point() makes the stored
// form, entry_point_as() reads it back with the convention's signature.
template <typename Entry>
inline PyCFunction stored_entry_point(Entry entry) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry));
}

template <typename Entry>
inline Entry entry_point_as(const PyMethodDef* def) {
    return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(def->ml_meth));
}

// The function type's PyType_Spec, registered through fetch_shared_type.
extern PyType_Spec function_type_spec;

// A new function object of `function_type` (ModuleState), or an empty handle
// with an exception set. `qualname` and `globals` are required; `closure`,
// `module_name` and `code` may be null. `entry`, if given, replaces the
// fast-call entry the definition's call convention selects, and like it
// must keep the recursion guard; it is handed the function object, which is
// also the m_self the selected entry would pass on.
Ref create_function(PyMethodDef* method_def, int flags, PyObject* qualname, PyObject* closure,
                    PyObject* module_name, PyObject* globals, PyObject* code,
                    vectorcallfunc entry = nullptr);

}  // namespace wsh
