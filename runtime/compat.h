// Everything that differs between interpreter versions lives here, so the
// logic files never test the version themselves. Built for CPython 3.8.
#pragma once

#include <Python.h>
#include <frameobject.h>

#include <cstddef>
#include <cstdint>
#include <utility>

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

// --- Calls -----------------------------------------------------------------

inline constexpr std::size_t vectorcall_offset_flag = PY_VECTORCALL_ARGUMENTS_OFFSET;

// The callable's fast-call entry, or null when its type has none.
inline vectorcallfunc vectorcall_function(PyObject* callable) {
    return _PyVectorcall_Function(callable);
}

// Turns a null result without an exception (or a result with one) into
// SystemError, as the interpreter does after a fast call.
inline PyObject* check_function_result(PyObject* callable, PyObject* result) {
    return _Py_CheckFunctionResult(callable, result, nullptr);
}

// Calls the type's call slot with a tuple and dict built from the vector.
inline PyObject* make_tp_call(PyObject* callable, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* keyword_names) {
    return _PyObject_MakeTpCall(callable, args, nargs, keyword_names);
}

// --- Look-ups --------------------------------------------------------------

}  // namespace wsh::compat

// Exported by 3.8 without a declaration; later versions declare it.
extern "C" int _PyObject_GetMethod(PyObject* obj, PyObject* name, PyObject** method);

namespace wsh::compat {

// The attribute read of the interpreter's own method calls: when the type's
// attribute is a method descriptor not shadowed by the instance, 1 with that
// descriptor (called with the object as the first argument, which is what
// calling the bound method does) and no bound method made; else 0 with the
// attribute (null with an exception set when the read failed).
inline int get_method(PyObject* obj, PyObject* name, PyObject** method) {
    return _PyObject_GetMethod(obj, name, method);
}

// The generic attribute read that returns null without an exception when
// the attribute is missing.
inline PyObject* generic_getattr_suppressed(PyObject* obj, PyObject* name) {
    return _PyObject_GenericGetAttrWithDict(obj, name, nullptr, 1);
}

// The dictionary's version tag: changes on every modification.
inline std::uint64_t dict_version(PyObject* dict) {
    return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
}

// Borrowed value, or null (with an exception set when the look-up failed).
inline PyObject* dict_get_known_hash(PyObject* dict, PyObject* key, Py_hash_t hash) {
    return _PyDict_GetItem_KnownHash(dict, key, hash);
}

// --- str -------------------------------------------------------------------

// The hash cached in the str object, -1 while none was computed.
inline Py_hash_t str_cached_hash(PyObject* s) {
    return reinterpret_cast<PyASCIIObject*>(s)->hash;
}

// Makes the str's canonical representation available: 0, or -1.
inline int str_ready(PyObject* s) { return PyUnicode_READY(s); }

// --- Exception slots of the thread -----------------------------------------

// The thread's pending exception type (borrowed), or null.
inline PyObject* current_exception_type(PyThreadState* thread) { return thread->curexc_type; }

// Stores the triple into the thread's pending-exception slot, taking over
// its references, and hands the previous contents back in the same
// variables (owned by the caller).
inline void swap_current_exception(PyThreadState* thread, PyObject*& type, PyObject*& value,
                                   PyObject*& traceback) {
    type = std::exchange(thread->curexc_type, type);
    value = std::exchange(thread->curexc_value, value);
    traceback = std::exchange(thread->curexc_traceback, traceback);
}

// The same for the handled exception of the running frame's own slot (not
// the topmost non-empty one sys.exc_info() would report): generators and
// coroutines keep their own slot on top of the caller's.
inline void swap_handled_exception(PyThreadState* thread, PyObject*& type, PyObject*& value,
                                   PyObject*& traceback) {
    _PyErr_StackItem* slot = thread->exc_info;
    type = std::exchange(slot->exc_type, type);
    value = std::exchange(slot->exc_value, value);
    traceback = std::exchange(slot->exc_traceback, traceback);
}

// Borrowed contents of that same slot.
inline void peek_handled_exception(PyThreadState* thread, PyObject*& type, PyObject*& value,
                                   PyObject*& traceback) {
    const _PyErr_StackItem* slot = thread->exc_info;
    type = slot->exc_type;
    value = slot->exc_value;
    traceback = slot->exc_traceback;
}

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

// A dictionary store with the key's precomputed hash: 0, or -1.
inline int dict_set_known_hash(PyObject* dict, PyObject* key, PyObject* value, Py_hash_t hash) {
    return _PyDict_SetItem_KnownHash(dict, key, value, hash);
}

// Sets the item count of a variable-size object (a list growing in place).
inline void set_var_size(PyObject* obj, Py_ssize_t size) { Py_SIZE(obj) = size; }

}  // namespace wsh::compat

// The module entry is the one symbol the shared object exports; everything
// else is built with hidden visibility.
#define WSH_MODULE_INIT extern "C" __attribute__((visibility("default"))) PyObject*
