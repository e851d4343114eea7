// Calls into Python from native code, as the module's bodies make them, in
// loops the benchmark times under callgrind (entry_cost.py); loaded with
// ctypes. Every function returns None, or null with the callee's exception.
#include <Python.h>

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

#if PY_VERSION_HEX >= 0x03090000
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
#endif

}
