// The function type's attribute table: the names Python code reads on a
// function (each alias pair shares its getter and setter).
#include "runtime/function_internal.h"
#include "runtime/ref.h"
#include "runtime/runtime_state.h"

namespace wsh {

namespace {

PyObject* none_if_null(PyObject* value) { return new_reference(value ? value : Py_None); }

PyObject* function_get_doc(PyObject* self, void*) {
    BindingFunction* op = as_function(self);
    if (op->doc == nullptr) {
        const char* text = op->base.m_ml != nullptr ? op->base.m_ml->ml_doc : nullptr;
        if (text == nullptr) Py_RETURN_NONE;
        op->doc = PyUnicode_FromString(text);
        if (op->doc == nullptr) return nullptr;
    }
    return new_reference(op->doc);
}

int function_set_doc(PyObject* self, PyObject* value, void*) {
    reset(as_function(self)->doc, new_reference(value != nullptr ? value : Py_None));
    return 0;
}

PyObject* function_get_name(PyObject* self, void*) {
    BindingFunction* op = as_function(self);
    if (op->name == nullptr) {
        if (op->base.m_ml == nullptr) {
            PyErr_SetString(PyExc_SystemError, "function object without a method definition");
            return nullptr;
        }
        op->name = PyUnicode_InternFromString(op->base.m_ml->ml_name);
        if (op->name == nullptr) return nullptr;
    }
    return new_reference(op->name);
}

int set_str_field(PyObject*& field, PyObject* value, const char* message) {
    if (value == nullptr || !PyUnicode_Check(value)) {
        PyErr_SetString(PyExc_TypeError, message);
        return -1;
    }
    reset(field, new_reference(value));
    return 0;
}

int function_set_name(PyObject* self, PyObject* value, void*) {
    return set_str_field(as_function(self)->name, value, "__name__ must be set to a string object");
}

PyObject* function_get_qualname(PyObject* self, void*) {
    // Null only after the collector cleared the record.
    return none_if_null(as_function(self)->qualname);
}

int function_set_qualname(PyObject* self, PyObject* value, void*) {
    return set_str_field(as_function(self)->qualname, value,
                         "__qualname__ must be set to a string object");
}

PyObject* function_get_globals(PyObject* self, void*) {
    return none_if_null(as_function(self)->globals);
}

PyObject* function_get_closure(PyObject*, void*) { Py_RETURN_NONE; }

PyObject* function_get_code(PyObject* self, void*) { return none_if_null(as_function(self)->code); }

// Fills `defaults` and `kwdefaults` from the provider, once: 0, or -1.
int provide_defaults(BindingFunction* op) {
    Ref provided = Ref::steal(op->defaults_provider(reinterpret_cast<PyObject*>(op)));
    if (!provided) return -1;
    if (!PyTuple_Check(provided.get()) || PyTuple_GET_SIZE(provided.get()) != 2) {
        PyErr_SetString(PyExc_SystemError, "defaults provider must return a 2-tuple");
        return -1;
    }
    reset(op->defaults, new_reference(PyTuple_GET_ITEM(provided.get(), 0)));
    reset(op->kwdefaults, new_reference(PyTuple_GET_ITEM(provided.get(), 1)));
    return 0;
}

// __defaults__ and __kwdefaults__: a field, the type it accepts and what a
// change of it says.
struct DefaultsField {
    PyObject* BindingFunction::*field;
    int (*accepts)(PyObject*);
    const char* refusal;
    const char* warning;
};

constexpr DefaultsField positional_defaults = {
    &BindingFunction::defaults, [](PyObject* v) -> int { return PyTuple_Check(v) != 0; },
    "__defaults__ must be set to a tuple object",
    "changes to cyfunction.__defaults__ will not currently affect the values used in function "
    "calls"};
constexpr DefaultsField keyword_defaults = {
    &BindingFunction::kwdefaults, [](PyObject* v) -> int { return PyDict_Check(v) != 0; },
    "__kwdefaults__ must be set to a dict object",
    "changes to cyfunction.__kwdefaults__ will not currently affect the values used in "
    "function calls"};

template <const DefaultsField& defaults>
PyObject* function_get_defaults(PyObject* self, void*) {
    BindingFunction* op = as_function(self);
    if (op->*defaults.field == nullptr && op->defaults_provider != nullptr &&
        provide_defaults(op) < 0) {
        return nullptr;
    }
    return none_if_null(op->*defaults.field);
}

// Stored defaults never change how a call binds its arguments, which the
// warning says. Turned into an error, the warning refuses the change. It can
// run Python code that sets the same field, so the old value is taken after.
template <const DefaultsField& defaults>
int function_set_defaults(PyObject* self, PyObject* value, void*) {
    if (value == nullptr) value = Py_None;
    if (value != Py_None && !defaults.accepts(value)) {
        PyErr_SetString(PyExc_TypeError, defaults.refusal);
        return -1;
    }
    if (PyErr_WarnEx(PyExc_RuntimeWarning, defaults.warning, 1) < 0) return -1;
    reset(as_function(self)->*defaults.field, new_reference(value));
    return 0;
}

PyObject* function_get_annotations(PyObject* self, void*) {
    BindingFunction* op = as_function(self);
    if (op->annotations == nullptr) {
        op->annotations = PyDict_New();
        if (op->annotations == nullptr) return nullptr;
    }
    return new_reference(op->annotations);
}

int function_set_annotations(PyObject* self, PyObject* value, void*) {
    if (value == Py_None) value = nullptr;
    if (value != nullptr && !PyDict_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    reset(as_function(self)->annotations, new_reference(value));
    return 0;
}

// The marker asyncio looks for on coroutine functions, or True when asyncio
// cannot be imported.
Ref coroutine_marker_from_asyncio() {
    const RuntimeState& rt = runtime_state();
    PyObject* marker_name = str(rt.coroutine_marker_name);
    Ref fromlist = Ref::steal(PyTuple_Pack(1, marker_name));
    Ref module;
    if (fromlist) {
        module = Ref::steal(PyImport_ImportModuleLevelObject(str(rt.coroutine_module_name),
                                                             nullptr, nullptr, fromlist.get(), 0));
    }
    Ref marker;
    if (module) marker = Ref::steal(PyObject_GetAttr(module.get(), marker_name));
    if (!marker) {
        PyErr_Clear();
        marker = Ref::borrow(Py_True);
    }
    return marker;
}

PyObject* function_get_is_coroutine(PyObject* self, void*) {
    BindingFunction* op = as_function(self);
    if (op->coroutine_marker != nullptr) return new_reference(op->coroutine_marker);
    Ref marker = (op->flags & BINDING_COROUTINE) ? coroutine_marker_from_asyncio()
                                                 : Ref::borrow(Py_False);
    // The import can run Python code that got here first: keep its value.
    if (op->coroutine_marker == nullptr) op->coroutine_marker = marker.new_reference();
    return new_reference(op->coroutine_marker);
}

}  // namespace

PyGetSetDef function_getset[] = {
    {"func_doc", function_get_doc, function_set_doc, nullptr, nullptr},
    {"__doc__", function_get_doc, function_set_doc, nullptr, nullptr},
    {"func_name", function_get_name, function_set_name, nullptr, nullptr},
    {"__name__", function_get_name, function_set_name, nullptr, nullptr},
    {"__qualname__", function_get_qualname, function_set_qualname, nullptr, nullptr},
    {"func_dict", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {"func_globals", function_get_globals, nullptr, nullptr, nullptr},
    {"__globals__", function_get_globals, nullptr, nullptr, nullptr},
    {"func_closure", function_get_closure, nullptr, nullptr, nullptr},
    {"__closure__", function_get_closure, nullptr, nullptr, nullptr},
    {"func_code", function_get_code, nullptr, nullptr, nullptr},
    {"__code__", function_get_code, nullptr, nullptr, nullptr},
    {"func_defaults", function_get_defaults<positional_defaults>, function_set_defaults<positional_defaults>, nullptr, nullptr},
    {"__defaults__", function_get_defaults<positional_defaults>, function_set_defaults<positional_defaults>, nullptr, nullptr},
    {"__kwdefaults__", function_get_defaults<keyword_defaults>, function_set_defaults<keyword_defaults>, nullptr, nullptr},
    {"__annotations__", function_get_annotations, function_set_annotations, nullptr, nullptr},
    {"_is_coroutine", function_get_is_coroutine, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace wsh
