// Everything that differs between interpreter versions lives here, so the
// logic files never test the version themselves. Built for CPython 3.8.
#pragma once

#include <Python.h>
#include <frameobject.h>

#include <cstdint>

#ifndef METH_METHOD
// Published value; 3.8 defines no such convention and never dispatches it.
#define METH_METHOD 0x0200
#endif

namespace wsh::compat {

// The type flag that marks support of the fast calling protocol.
inline constexpr unsigned long tpflags_have_vectorcall = _Py_TPFLAGS_HAVE_VECTORCALL;

inline std::int64_t current_interpreter_id() {
    return PyInterpreterState_GetID(PyThreadState_Get()->interp);
}

inline PyCodeObject* new_code(int argcount, int posonlyargcount, int kwonlyargcount,
                              int nlocals, int stacksize, int flags, PyObject* code,
                              PyObject* consts, PyObject* names, PyObject* varnames,
                              PyObject* freevars, PyObject* cellvars, PyObject* filename,
                              PyObject* name, int firstlineno, PyObject* lnotab) {
    return PyCode_NewWithPosOnlyArgs(argcount, posonlyargcount, kwonlyargcount, nlocals,
                                     stacksize, flags, code, consts, names, varnames,
                                     freevars, cellvars, filename, name, firstlineno,
                                     lnotab);
}

inline void set_frame_line(PyFrameObject* frame, int line) { frame->f_lineno = line; }

}  // namespace wsh::compat

namespace wsh::compat {

inline void set_ob_type(PyObject* obj, PyTypeObject* type) { Py_TYPE(obj) = type; }

// Entry-point signatures of the fast conventions. The one with the defining
// class has the layout later interpreters publish as PyCMethod.
using fastcall_keywords_entry = _PyCFunctionFastWithKeywords;
using method_entry = PyObject* (*)(PyObject*, PyTypeObject*, PyObject* const*, size_t,
                                   PyObject*);

// The positional count of a fast call, without the arguments-offset flag.
inline Py_ssize_t vectorcall_nargs(size_t nargsf) { return PyVectorcall_NARGS(nargsf); }

}  // namespace wsh::compat

// The module entry is the one symbol the shared object exports; everything
// else is built with hidden visibility.
#define WSH_MODULE_INIT extern "C" __attribute__((visibility("default"))) PyObject*
