// Function objects for every call convention and binding flag, with entry
// points that echo what they received, so Python can check the dispatch.
#include <Python.h>

#include <cstring>

#include "runtime/compat.h"
#include "runtime/function.h"
#include "runtime/runtime_state.h"
#include "tests/native/testmod.h"

namespace wsh::testmod {

namespace {

PyObject* values_tuple(PyObject* const* values, Py_ssize_t count) {
    Ref tuple = Ref::steal(PyTuple_New(count));
    if (!tuple) return nullptr;
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyTuple_SET_ITEM(tuple.get(), i, new_reference(values[i]));
    }
    return tuple.release();
}

PyObject* or_none(PyObject* value) { return value != nullptr ? value : Py_None; }

// ("noargs", first, None)
PyObject* echo_noargs(PyObject* first, PyObject* arg) {
    return Py_BuildValue("(sOO)", "noargs", first, or_none(arg));
}

// ("o", first, arg)
PyObject* echo_o(PyObject* first, PyObject* arg) {
    return Py_BuildValue("(sOO)", "o", first, arg);
}

// ("varargs", first, args, kwargs or None)
PyObject* echo_varargs_keywords(PyObject* first, PyObject* args, PyObject* kwargs) {
    return Py_BuildValue("(sOOO)", "varargs", first, args, or_none(kwargs));
}

// ("fastcall", first, positional, kwnames or None, keyword values)
PyObject* echo_fastcall(PyObject* first, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
    const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    return Py_BuildValue("(sONON)", "fastcall", first, values_tuple(args, nargs),
                         or_none(kwnames), values_tuple(args + nargs, nkw));
}

// ("method", first, defining class or None, positional, kwnames or None,
// keyword values)
PyObject* echo_method(PyObject* first, PyTypeObject* defining_class, PyObject* const* args,
                      size_t nargsf, PyObject* kwnames) {
    const auto nargs = static_cast<Py_ssize_t>(nargsf);
    const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    return Py_BuildValue("(sOONON)", "method", first,
                         or_none(reinterpret_cast<PyObject*>(defining_class)),
                         values_tuple(args, nargs), or_none(kwnames),
                         values_tuple(args + nargs, nkw));
}

template <typename F>
PyCFunction as_cfunction(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

// One definition per call convention, named by its kind.
PyMethodDef echo_definitions[] = {
    {"noargs", as_cfunction(echo_noargs), METH_NOARGS, "Echoes a call without arguments."},
    {"o", as_cfunction(echo_o), METH_O, nullptr},
    {"varargs_keywords", as_cfunction(echo_varargs_keywords), METH_VARARGS | METH_KEYWORDS,
     nullptr},
    {"fastcall_keywords", as_cfunction(echo_fastcall), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"fastcall_keywords_method", as_cfunction(echo_method),
     METH_FASTCALL | METH_KEYWORDS | METH_METHOD, nullptr},
    // METH_STATIC is outside the conventions the type tells apart.
    {"o_static", as_cfunction(echo_o), METH_O | METH_STATIC, nullptr},
    // Conventions the type cannot call.
    {"varargs", as_cfunction(echo_varargs_keywords), METH_VARARGS, nullptr},
    {"fastcall", as_cfunction(echo_fastcall), METH_FASTCALL, nullptr},
    {"noargs_o", as_cfunction(echo_o), METH_NOARGS | METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef* find_definition(const char* kind) {
    for (PyMethodDef* def = echo_definitions; def->ml_name != nullptr; ++def) {
        if (std::strcmp(def->ml_name, kind) == 0) return def;
    }
    PyErr_Format(PyExc_ValueError, "no definition %s", kind);
    return nullptr;
}

BindingFunction* checked_function(PyObject* f) {
    if (Py_TYPE(f) != reinterpret_cast<PyTypeObject*>(runtime_state().function_type.get())) {
        PyErr_SetString(PyExc_TypeError, "expected a function object");
        return nullptr;
    }
    return reinterpret_cast<BindingFunction*>(f);
}

// make_function(kind, qualname, flags=0, module=None, code=None,
// defining_class=None): a function object for the definition `kind`, with
// the test module's globals.
PyObject* make_function(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"kind", "qualname", "flags", "module", "code",
                                     "defining_class", nullptr};
    const char* kind = nullptr;
    PyObject* qualname = nullptr;
    int flags = 0;
    PyObject* module = Py_None;
    PyObject* code = Py_None;
    PyObject* defining_class = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "sU|iOOO", const_cast<char**>(keywords), &kind,
                                     &qualname, &flags, &module, &code, &defining_class)) {
        return nullptr;
    }
    PyMethodDef* def = find_definition(kind);
    if (def == nullptr) return nullptr;
    Ref f = create_function(def, flags, qualname, nullptr,
                                       module == Py_None ? nullptr : module,
                                       runtime_state().module_dict.get(),
                                       code == Py_None ? nullptr : code);
    if (!f) return nullptr;
    if (defining_class != Py_None) {
        reinterpret_cast<BindingFunction*>(f.get())->defining_class =
            new_reference(defining_class);
    }
    return f.release();
}

// Calls the function's own "provide" attribute, as a native provider would
// compute the defaults.
PyObject* provide_from_attribute(PyObject* function) {
    Ref provide = Ref::steal(PyObject_GetAttrString(function, "provide"));
    if (!provide) return nullptr;
    return PyObject_CallObject(provide.get(), nullptr);
}

// install_defaults_provider(f): f.__defaults__/__kwdefaults__ come from
// f.provide() until set.
PyObject* install_defaults_provider(PyObject*, PyObject* f) {
    BindingFunction* op = checked_function(f);
    if (op == nullptr) return nullptr;
    op->defaults_provider = provide_from_attribute;
    Py_RETURN_NONE;
}

// clear_function(f): what the collector does to a function in a cycle.
PyObject* clear_function(PyObject*, PyObject* f) {
    if (checked_function(f) == nullptr) return nullptr;
    if (Py_TYPE(f)->tp_clear(f) < 0) return nullptr;
    Py_RETURN_NONE;
}

// call_slot(f, args, kwargs): the type's call slot with any keyword dict,
// as only native callers can pass it.
PyObject* call_slot(PyObject*, PyObject* args) {
    PyObject* f = nullptr;
    PyObject* call_args = nullptr;
    PyObject* kwargs = nullptr;
    if (!PyArg_ParseTuple(args, "OO!O!", &f, &PyTuple_Type, &call_args, &PyDict_Type, &kwargs)) {
        return nullptr;
    }
    if (checked_function(f) == nullptr) return nullptr;
    return Py_TYPE(f)->tp_call(f, call_args, kwargs);
}

PyObject* function_type(PyObject*, PyObject*) { return runtime_state().function_type.new_reference(); }

PyObject* function_record_size(PyObject*, PyObject*) {
    return PyLong_FromSsize_t(static_cast<Py_ssize_t>(sizeof(BindingFunction)));
}

}  // namespace

PyMethodDef function_methods[] = {
    {"make_function", as_cfunction(make_function), METH_VARARGS | METH_KEYWORDS, nullptr},
    {"install_defaults_provider", install_defaults_provider, METH_O, nullptr},
    {"clear_function", clear_function, METH_O, nullptr},
    {"call_slot", call_slot, METH_VARARGS, nullptr},
    {"function_type", function_type, METH_NOARGS, nullptr},
    {"function_record_size", function_record_size, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace wsh::testmod
