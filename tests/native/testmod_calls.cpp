// Calls: each operation with the values laid out as the method bodies lay
// them out, so Python can drive every path.
#include <vector>

#include "runtime/call.h"
#include "runtime/compat.h"
#include "runtime/runtime_state.h"
#include "tests/native/testmod.h"

namespace wsh::testmod {

namespace {

constexpr std::size_t offset_flag = compat::vectorcall_offset_flag;

PyObject* caller_array_changed() {
    PyErr_SetString(PyExc_AssertionError, "the caller's values were left changed");
    return nullptr;
}

// vectorcall(callable, values, keyword_names), the interpreter's fast call
// as the bodies make it: the last len(keyword_names) values belong to the
// names, which may be any tuple (repeats, non-str).
PyObject* t_vectorcall(PyObject*, PyObject* args) {
    PyObject* callable;
    PyObject* values;
    PyObject* names = Py_None;
    if (!PyArg_ParseTuple(args, "OO!|O", &callable, &PyTuple_Type, &values, &names)) return nullptr;
    PyObject* keyword_names = names == Py_None ? nullptr : names;
    if (keyword_names && !PyTuple_Check(keyword_names)) {
        PyErr_SetString(PyExc_TypeError, "keyword names must be a tuple or None");
        return nullptr;
    }
    const Py_ssize_t total = PyTuple_GET_SIZE(values);
    const Py_ssize_t keyword_count = keyword_names ? PyTuple_GET_SIZE(keyword_names) : 0;
    if (keyword_count > total) {
        PyErr_SetString(PyExc_ValueError, "more names than values");
        return nullptr;
    }
    return compat::vectorcall(callable, &PyTuple_GET_ITEM(values, 0),
                              static_cast<std::size_t>(total - keyword_count), keyword_names);
}

PyObject* t_call_object(PyObject*, PyObject* args) {
    PyObject* callable;
    PyObject* call_args;
    PyObject* kwargs = nullptr;
    if (!PyArg_ParseTuple(args, "OO!|O!", &callable, &PyTuple_Type, &call_args, &PyDict_Type,
                          &kwargs)) {
        return nullptr;
    }
    return call_object(callable, call_args, kwargs).release();
}

// call_fast_dict(callable, *args, **kwargs), with the arguments-offset flag
// set and a spare slot in front of the values.
PyObject* t_call_fast_dict(PyObject*, PyObject* args, PyObject* kwargs) {
    const Py_ssize_t n = PyTuple_GET_SIZE(args);
    if (n < 1) {
        PyErr_SetString(PyExc_TypeError, "call_fast_dict needs a callable");
        return nullptr;
    }
    std::vector<PyObject*> slots(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) slots[static_cast<std::size_t>(i)] = PyTuple_GET_ITEM(args, i);
    // slots[0] (the callable) doubles as the writable slot before the values.
    Ref result = call_fast_dict(slots[0], slots.data() + 1,
                                           static_cast<std::size_t>(n - 1) | offset_flag,
                                           kwargs && PyDict_GET_SIZE(kwargs) ? kwargs : nullptr);
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (slots[static_cast<std::size_t>(i)] != PyTuple_GET_ITEM(args, i)) {
            return caller_array_changed();
        }
    }
    return result.release();
}

// call_method_keywords(obj, name, **kwargs)
PyObject* t_call_method_keywords(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* keyword_names) {
    if (nargs != 2 || !PyUnicode_Check(args[1]) || keyword_names == nullptr) {
        PyErr_SetString(PyExc_TypeError, "call_method_keywords(obj, name, **kwargs)");
        return nullptr;
    }
    const Py_ssize_t keyword_count = PyTuple_GET_SIZE(keyword_names);
    std::vector<PyObject*> values(static_cast<std::size_t>(keyword_count) + 1);
    values[0] = args[0];
    for (Py_ssize_t i = 0; i < keyword_count; ++i) {
        values[static_cast<std::size_t>(i) + 1] = args[2 + i];
    }
    Ref result = call_method_keywords(args[1], values.data(), keyword_names);
    if (values[0] != args[0]) return caller_array_changed();
    return result.release();
}

// call_method_by_name(obj, name, *args), with a spare slot before the object.
PyObject* t_call_method_by_name(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs < 2 || !PyUnicode_Check(args[1])) {
        PyErr_SetString(PyExc_TypeError, "call_method_by_name(obj, name, *args)");
        return nullptr;
    }
    // [spare, obj, args...]
    std::vector<PyObject*> slots(static_cast<std::size_t>(nargs));
    slots[0] = nullptr;
    slots[1] = args[0];
    for (Py_ssize_t i = 2; i < nargs; ++i) slots[static_cast<std::size_t>(i)] = args[i];
    Ref result = call_method_by_name(
        args[1], slots.data() + 1, static_cast<std::size_t>(nargs - 1) | offset_flag);
    for (Py_ssize_t i = 2; i < nargs; ++i) {
        if (slots[static_cast<std::size_t>(i)] != args[i]) return caller_array_changed();
    }
    if (slots[1] != args[0]) return caller_array_changed();
    return result.release();
}

}  // namespace

PyMethodDef calls_methods[] = {
    {"vectorcall", t_vectorcall, METH_VARARGS, nullptr},
    {"call_object", t_call_object, METH_VARARGS, nullptr},
    {"call_fast_dict", stored_entry_point(t_call_fast_dict),
     METH_VARARGS | METH_KEYWORDS, nullptr},
    {"call_method_keywords",
     stored_entry_point(t_call_method_keywords),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"call_method_by_name",
     stored_entry_point(t_call_method_by_name),
     METH_FASTCALL, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace wsh::testmod
