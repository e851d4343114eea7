// Calls into Python from native code, as the module's bodies make them, in
// loops the benchmark times under callgrind (entry_cost.py); loaded with
// ctypes. Every function returns None, or null with the callee's exception.
#include <Python.h>

#if PY_VERSION_HEX < 0x03090000
// 3.8 has the fast call under its old name, and no method call: the module
// finds the method as its own look-up does there.
#define PyObject_Vectorcall _PyObject_Vectorcall
extern "C" int _PyObject_GetMethod(PyObject* obj, PyObject* name, PyObject** method);

static PyObject* PyObject_VectorcallMethod(PyObject* name, PyObject* const* args, size_t nargsf,
                                           PyObject* keyword_names) {
    PyObject* method = nullptr;
    const int unbound = _PyObject_GetMethod(args[0], name, &method);
    if (method == nullptr) return nullptr;
    PyObject* result = unbound ? PyObject_Vectorcall(method, args, nargsf, keyword_names)
                               : PyObject_Vectorcall(method, args + 1, nargsf - 1, keyword_names);
    Py_DECREF(method);
    return result;
}
#endif

extern "C" {

// The loop alone, for its own cost.
PyObject* probe_loop(Py_ssize_t count) {
    for (Py_ssize_t i = 0; i < count; ++i) __asm__ volatile("" ::: "memory");
    Py_RETURN_NONE;
}

// fn(arg) or, with `keyword_names`, fn(<keyword>=arg), `count` times,
// through the interpreter's fast call.
PyObject* probe_call(PyObject* fn, PyObject* arg, PyObject* keyword_names, Py_ssize_t count) {
    PyObject* names = keyword_names == Py_None ? nullptr : keyword_names;
    const size_t nargs = names == nullptr ? 1 : 0;
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* result = PyObject_Vectorcall(fn, &arg, nargs, names);
        if (result == nullptr) return nullptr;
        Py_DECREF(result);
    }
    Py_RETURN_NONE;
}

// obj.<name>(arg) or, with `keyword_names`, obj.<name>(<keyword>=arg),
// `count` times, looked up on the object at each call.
PyObject* probe_method(PyObject* obj, PyObject* name, PyObject* arg, PyObject* keyword_names,
                       Py_ssize_t count) {
    PyObject* args[] = {obj, arg};
    const size_t nargs = keyword_names == Py_None ? 2 : 1;
    PyObject* names = keyword_names == Py_None ? nullptr : keyword_names;
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* result = PyObject_VectorcallMethod(name, args, nargs, names);
        if (result == nullptr) return nullptr;
        Py_DECREF(result);
    }
    Py_RETURN_NONE;
}

}
