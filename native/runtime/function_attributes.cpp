// The function type's attribute table: the names Python code reads on a
// function (each alias pair shares its getter and setter).
#include <utility>

#include "runtime/function_internal.h"
#include "runtime/ref.h"
#include "runtime/runtime_state.h"

namespace wsh {

namespace {

// Stores a new reference to `value` in `field`, then releases the old value.
void store_field(PyObject*& field, PyObject* value) {
    Ref old = Ref::steal(std::exchange(field, Ref::borrow(value).release()));
}

PyObject* none_if_null(PyObject* value) { return Ref::borrow(value ? value : Py_None).release(); }

PyObject* func_get_doc(PyObject* self, void*) {
    BindingFunction* op = as_function(self);
    if (op->doc == nullptr) {
        const char* text = op->base.m_ml != nullptr ? op->base.m_ml->ml_doc : nullptr;
        if (text == nullptr) Py_RETURN_NONE;
        op->doc = PyUnicode_FromString(text);
        if (op->doc == nullptr) return nullptr;
    }
    return Ref::borrow(op->doc).release();
}

int func_set_doc(PyObject* self, PyObject* value, void*) {
    store_field(as_function(self)->doc, value != nullptr ? value : Py_None);
    return 0;
}

PyObject* func_get_name(PyObject* self, void*) {
    BindingFunction* op = as_function(self);
    if (op->name == nullptr) {
        if (op->base.m_ml == nullptr) {
            PyErr_SetString(PyExc_SystemError, "function object without a method definition");
            return nullptr;
        }
        op->name = PyUnicode_InternFromString(op->base.m_ml->ml_name);
        if (op->name == nullptr) return nullptr;
    }
    return Ref::borrow(op->name).release();
}

int set_str_field(PyObject*& field, PyObject* value, const char* message) {
    if (value == nullptr || !PyUnicode_Check(value)) {
        PyErr_SetString(PyExc_TypeError, message);
        return -1;
    }
    store_field(field, value);
    return 0;
}

int func_set_name(PyObject* self, PyObject* value, void*) {
    return set_str_field(as_function(self)->name, value, "__name__ must be set to a string object");
}

PyObject* func_get_qualname(PyObject* self, void*) {
    // Null only after the collector cleared the record.
    return none_if_null(as_function(self)->qualname);
}

int func_set_qualname(PyObject* self, PyObject* value, void*) {
    return set_str_field(as_function(self)->qualname, value,
                         "__qualname__ must be set to a string object");
}

PyObject* func_get_globals(PyObject* self, void*) {
    return none_if_null(as_function(self)->globals);
}

PyObject* func_get_closure(PyObject*, void*) { Py_RETURN_NONE; }

PyObject* func_get_code(PyObject* self, void*) { return none_if_null(as_function(self)->code); }

// Fills `defaults` and `kwdefaults` from the provider, once: 0, or -1.
int provide_defaults(BindingFunction* op) {
    Ref provided = Ref::steal(op->defaults_provider(reinterpret_cast<PyObject*>(op)));
    if (!provided) return -1;
    if (!PyTuple_Check(provided.get()) || PyTuple_GET_SIZE(provided.get()) != 2) {
        PyErr_SetString(PyExc_SystemError, "defaults provider must return a 2-tuple");
        return -1;
    }
    store_field(op->defaults, PyTuple_GET_ITEM(provided.get(), 0));
    store_field(op->kwdefaults, PyTuple_GET_ITEM(provided.get(), 1));
    return 0;
}

PyObject* func_get_defaults(PyObject* self, void*) {
    BindingFunction* op = as_function(self);
    if (op->defaults == nullptr && op->defaults_provider != nullptr && provide_defaults(op) < 0) {
        return nullptr;
    }
    return none_if_null(op->defaults);
}

PyObject* func_get_kwdefaults(PyObject* self, void*) {
    BindingFunction* op = as_function(self);
    if (op->kwdefaults == nullptr && op->defaults_provider != nullptr &&
        provide_defaults(op) < 0) {
        return nullptr;
    }
    return none_if_null(op->kwdefaults);
}

// Stored defaults never change how a call binds its arguments, which the
// warning says. Turned into an error, the warning refuses the change. It can
// run Python code that sets the same field, so the old value is taken after.
int set_defaults_field(PyObject*& field, PyObject* value, const char* warning) {
    if (PyErr_WarnEx(PyExc_RuntimeWarning, warning, 1) < 0) return -1;
    store_field(field, value);
    return 0;
}

int func_set_defaults(PyObject* self, PyObject* value, void*) {
    if (value == nullptr) value = Py_None;
    if (value != Py_None && !PyTuple_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__defaults__ must be set to a tuple object");
        return -1;
    }
    return set_defaults_field(as_function(self)->defaults, value,
                              "changes to cyfunction.__defaults__ will not currently affect "
                              "the values used in function calls");
}

int func_set_kwdefaults(PyObject* self, PyObject* value, void*) {
    if (value == nullptr) value = Py_None;
    if (value != Py_None && !PyDict_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__kwdefaults__ must be set to a dict object");
        return -1;
    }
    return set_defaults_field(as_function(self)->kwdefaults, value,
                              "changes to cyfunction.__kwdefaults__ will not currently affect "
                              "the values used in function calls");
}

PyObject* func_get_annotations(PyObject* self, void*) {
    BindingFunction* op = as_function(self);
    if (op->annotations == nullptr) {
        op->annotations = PyDict_New();
        if (op->annotations == nullptr) return nullptr;
    }
    return Ref::borrow(op->annotations).release();
}

int func_set_annotations(PyObject* self, PyObject* value, void*) {
    if (value == Py_None) value = nullptr;
    if (value != nullptr && !PyDict_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    store_field(as_function(self)->annotations, value);
    return 0;
}

// The marker asyncio looks for on coroutine functions, or True when asyncio
// cannot be imported.
Ref coroutine_marker_from_asyncio() {
    Ref fromlist = Ref::steal(PyTuple_Pack(1, str(s_is_coroutine)));
    Ref module;
    if (fromlist) {
        module = Ref::steal(PyImport_ImportModuleLevelObject(str(s_asyncio_coroutines), nullptr,
                                                             nullptr, fromlist.get(), 0));
    }
    Ref marker;
    if (module) marker = Ref::steal(PyObject_GetAttr(module.get(), str(s_is_coroutine)));
    if (!marker) {
        PyErr_Clear();
        marker = Ref::borrow(Py_True);
    }
    return marker;
}

PyObject* func_get_is_coroutine(PyObject* self, void*) {
    BindingFunction* op = as_function(self);
    if (op->coroutine_marker != nullptr) return Ref::borrow(op->coroutine_marker).release();
    Ref marker = (op->flags & BINDING_COROUTINE) ? coroutine_marker_from_asyncio()
                                                 : Ref::borrow(Py_False);
    // The import can run Python code that got here first: keep its value.
    if (op->coroutine_marker == nullptr) op->coroutine_marker = marker.new_ref();
    return Ref::borrow(op->coroutine_marker).release();
}

}  // namespace

PyGetSetDef function_getset[] = {
    {"func_doc", func_get_doc, func_set_doc, nullptr, nullptr},
    {"__doc__", func_get_doc, func_set_doc, nullptr, nullptr},
    {"func_name", func_get_name, func_set_name, nullptr, nullptr},
    {"__name__", func_get_name, func_set_name, nullptr, nullptr},
    {"__qualname__", func_get_qualname, func_set_qualname, nullptr, nullptr},
    {"func_dict", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {"func_globals", func_get_globals, nullptr, nullptr, nullptr},
    {"__globals__", func_get_globals, nullptr, nullptr, nullptr},
    {"func_closure", func_get_closure, nullptr, nullptr, nullptr},
    {"__closure__", func_get_closure, nullptr, nullptr, nullptr},
    {"func_code", func_get_code, nullptr, nullptr, nullptr},
    {"__code__", func_get_code, nullptr, nullptr, nullptr},
    {"func_defaults", func_get_defaults, func_set_defaults, nullptr, nullptr},
    {"__defaults__", func_get_defaults, func_set_defaults, nullptr, nullptr},
    {"__kwdefaults__", func_get_kwdefaults, func_set_kwdefaults, nullptr, nullptr},
    {"__annotations__", func_get_annotations, func_set_annotations, nullptr, nullptr},
    {"_is_coroutine", func_get_is_coroutine, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace wsh
