// The small differences between interpreter versions, so the logic files
// never test the version themselves. Two mechanisms that differ as a whole
// keep their versions beside their logic: the module dictionary's watcher
// (runtime/lookup) and the exception-slot records (runtime/exception_state.h).
// Supported: CPython 3.8 to 3.15.
//
// The module uses the interpreter's public API wherever the version has one.
// These are the interpreter's private symbols that a build imports, by
// version; tests/test_package.py checks each build against this list.
//
// Called here, where the version has no public equivalent (3.14 and 3.15
// have none for these two either):
//   _PyType_Lookup             3.8-3.15  a type's own attribute, without descriptors:
//                                        what a remembered method or class
//                                        attribute read is checked against
//   _PyDict_GetItem_KnownHash  3.8-3.15  global look-up with the hash the table holds
//   _PyObject_GetMethod        3.8       method call without a bound method
//                                        (PyObject_VectorcallMethod from 3.9)
//   _PyObject_LookupAttr       3.8-3.12  attribute read where AttributeError is absence
//                                        (PyObject_GetOptionalAttr from 3.13)
//
// Reached through the interpreter's own public macros and inline functions:
//   _Py_Dealloc                3.8-3.15  Py_DECREF
//   _Py_NoneStruct             3.8-3.15  Py_None
//   _Py_TrueStruct             3.8-3.15  Py_True
//   _Py_FalseStruct            3.8-3.15  Py_False
//   _PyObject_GC_New           3.8-3.15  PyObject_GC_New
//   _PyErr_BadInternalCall     3.8-3.15  PyErr_BadInternalCall
//   _PyUnicode_Ready           3.8-3.11  PyUnicode_READY
//   _Py_CheckRecursionLimit    3.8       Py_EnterRecursiveCall
//   _Py_CheckRecursiveCall     3.8       Py_EnterRecursiveCall
//   _PyObject_MakeTpCall       3.8-3.10  _PyObject_Vectorcall, PyObject_Vectorcall
//   _Py_CheckFunctionResult    3.8-3.10  _PyObject_Vectorcall, PyObject_Vectorcall
#pragma once

#include <Python.h>
#include <frameobject.h>

#include "runtime/ref.h"

// Interpreter generations that changed something we rely on.
#define WSH_PY39 (PY_VERSION_HEX >= 0x03090000)
#define WSH_PY311 (PY_VERSION_HEX >= 0x030B0000)
#define WSH_PY312 (PY_VERSION_HEX >= 0x030C0000)
#define WSH_PY313 (PY_VERSION_HEX >= 0x030D0000)

#include <cstddef>
#include <cstdint>
#include <utility>

#ifndef METH_METHOD
// Published value; 3.8 defines no such convention and never dispatches it.
#define METH_METHOD 0x0200
#endif
#ifndef Py_TPFLAGS_IMMUTABLETYPE
// Published values; before 3.10 the interpreter defines neither flag and
// does not act on them (the shared metaclass gives both behaviours there).
#define Py_TPFLAGS_IMMUTABLETYPE (1UL << 8)
#define Py_TPFLAGS_DISALLOW_INSTANTIATION (1UL << 7)
#endif

#if !WSH_PY39
// Exported by 3.8 without a public declaration.
extern "C" int _PyObject_GetMethod(PyObject* obj, PyObject* name, PyObject** method);
#endif

namespace wsh::compat {

// The type flag that marks support of the fast calling protocol.
#if WSH_PY39
inline constexpr unsigned long tpflags_have_vectorcall = Py_TPFLAGS_HAVE_VECTORCALL;
#else
inline constexpr unsigned long tpflags_have_vectorcall = _Py_TPFLAGS_HAVE_VECTORCALL;
#endif

// From 3.9 an instance of a heap type visits its type in its own traversal;
// before, the interpreter visits it for subclasses, and a second visit would
// count the reference twice.
inline constexpr bool traverse_visits_type = WSH_PY39;

inline std::int64_t current_interpreter_id() {
    return PyInterpreterState_GetID(PyThreadState_Get()->interp);
}

// A code object with the given shape. Up to 3.10 it carries the byte code,
// stack size and line numbers given. From 3.11 the interpreter runs a code
// object's byte code without checking it and formats tracebacks from its
// line table, so an empty one would crash a function made from it: there it
// takes byte code, stack size, line and exception tables from the empty code
// object the interpreter itself makes for that place (byte code that raises,
// every instruction on the first line, so co_lnotab still reads as empty).
#if WSH_PY311
inline PyCodeObject* new_code(int argcount, int posonlyargcount, int kwonlyargcount,
                              int nlocals, int /*stacksize*/, int flags, PyObject* /*code*/,
                              PyObject* consts, PyObject* names, PyObject* varnames,
                              PyObject* freevars, PyObject* cellvars, PyObject* filename,
                              PyObject* name, int firstlineno, PyObject* /*lnotab*/) {
    // Made without names: its own would be interned before ours.
    const Ref empty_ref =
        Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty("", "", firstlineno)));
    if (!empty_ref) return nullptr;
    auto* empty = as<PyCodeObject>(empty_ref);
    const Ref code = Ref::steal(PyCode_GetCode(empty));
    if (!code) return nullptr;
#if WSH_PY312
    return PyUnstable_Code_NewWithPosOnlyArgs(
#else
    return PyCode_NewWithPosOnlyArgs(
#endif
        argcount, posonlyargcount, kwonlyargcount, nlocals, empty->co_stacksize, flags,
        code.get(), consts, names, varnames, freevars, cellvars, filename, name, name,
        firstlineno, empty->co_linetable, empty->co_exceptiontable);
}

// The frame's line comes from its code object, made for that line.
inline void set_frame_line(PyFrameObject*, int) {}
#else
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
#endif

// --- Calls -----------------------------------------------------------------

inline constexpr std::size_t vectorcall_offset_flag = PY_VECTORCALL_ARGUMENTS_OFFSET;

// The callable's fast-call entry, or null when its type has none.
inline vectorcallfunc vectorcall_function(PyObject* callable) {
#if WSH_PY39
    return PyVectorcall_Function(callable);
#else
    return _PyVectorcall_Function(callable);
#endif
}

// The interpreter's fast call: the callable's fast-call entry with its
// result checked, else its call slot with a tuple and dict made from the
// vector.
inline PyObject* vectorcall(PyObject* callable, PyObject* const* args, std::size_t nargsf,
                            PyObject* keyword_names) {
#if WSH_PY39
    return PyObject_Vectorcall(callable, args, nargsf, keyword_names);
#else
    return _PyObject_Vectorcall(callable, args, nargsf, keyword_names);
#endif
}


// Calls attribute `name` of args[0] with args[1..] (positional count of
// `nargsf`, which includes the object) and the keyword values named by
// `keyword_names`, without making a bound method when the attribute is a
// method of the object's type. args[0] may be overwritten during the call
// when `nargsf` carries the arguments-offset flag.
inline PyObject* call_method(PyObject* name, PyObject* const* args, std::size_t nargsf,
                             PyObject* keyword_names) {
#if WSH_PY39
    return PyObject_VectorcallMethod(name, args, nargsf, keyword_names);
#else
    PyObject* found = nullptr;
    const int unbound = _PyObject_GetMethod(args[0], name, &found);
    const Ref callable = Ref::steal(found);
    if (!callable) return nullptr;
    if (unbound) {
        // The flag would let the callee change args[-1], which is not ours.
        return vectorcall(callable.get(), args, nargsf & ~vectorcall_offset_flag, keyword_names);
    }
    // args[0], the object, is the slot in front of the values now.
    return vectorcall(callable.get(), args + 1, nargsf - 1, keyword_names);
#endif
}

// --- Look-ups --------------------------------------------------------------

// Reads attribute `name`: 1 with the value in *result, 0 with null there
// and no exception when the attribute is missing (AttributeError), -1 with
// an exception for any other failure.
inline int get_optional_attr(PyObject* obj, PyObject* name, PyObject** result) {
#if WSH_PY313
    return PyObject_GetOptionalAttr(obj, name, result);
#else
    return _PyObject_LookupAttr(obj, name, result);
#endif
}

// The type's version tag, 0 while it has no valid one. The interpreter
// gives a type a new tag whenever the type or one of its bases changes, and
// keys its own attribute caches on it, so a cache keyed on it goes stale
// exactly when the interpreter's do. Until 3.12 an invalidated type keeps
// its old number and only loses the flag.
inline unsigned int type_version(PyTypeObject* type) {
#if WSH_PY312
    return type->tp_version_tag;
#else
    return PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG) ? type->tp_version_tag : 0u;
#endif
}

// Whether instances of `type` may carry attributes of their own (a
// __dict__): before 3.11 at tp_dictoffset, from 3.11 also in a dictionary
// the interpreter manages.
inline bool has_instance_dict(PyTypeObject* type) {
#if WSH_PY311
    if (PyType_HasFeature(type, Py_TPFLAGS_MANAGED_DICT)) return true;
#endif
    return type->tp_dictoffset != 0;
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

// Makes the str's canonical representation available: 0, or -1. From 3.12
// every str is in that form from creation.
#if WSH_PY312
inline int str_ready(PyObject*) { return 0; }
#else
inline int str_ready(PyObject* s) { return PyUnicode_READY(s); }
#endif


// A new heap type made from `spec` and `bases` whose type is `metaclass`
// (null: `type`), or null with an exception set. Until 3.12 the interpreter
// can make types of `type` only: the metaclass is put in right after.
inline PyObject* type_from_spec(PyTypeObject* metaclass, PyType_Spec* spec, PyObject* bases) {
#if WSH_PY312
    return PyType_FromMetaclass(metaclass, nullptr, spec, bases);
#else
    Ref type = Ref::steal(PyType_FromSpecWithBases(spec, bases));
    if (!type || metaclass == nullptr) return type.release();
    PyTypeObject* previous = Py_TYPE(type.get());
    // A heap type holds a counted reference to its type only when that type
    // is itself a heap type (the static `type` is not).
    PyObject* counted = (previous->tp_flags & Py_TPFLAGS_HEAPTYPE)
                            ? reinterpret_cast<PyObject*>(previous)
                            : nullptr;
    auto* meta = reinterpret_cast<PyTypeObject*>(new_reference(reinterpret_cast<PyObject*>(metaclass)));
#if WSH_PY39
    Py_SET_TYPE(type.get(), meta);
#else
    Py_TYPE(type.get()) = meta;
#endif
    reset(counted);
    return type.release();
#endif
}

// Entry-point signatures of the fast conventions. The one with the defining
// class has the layout later interpreters publish as PyCMethod.
#if WSH_PY313
using fastcall_keywords_entry = PyCFunctionFastWithKeywords;
#else
using fastcall_keywords_entry = _PyCFunctionFastWithKeywords;
#endif
using method_entry = PyObject* (*)(PyObject*, PyTypeObject*, PyObject* const*, size_t,
                                   PyObject*);

// Sets the item count of a variable-size object (a list growing in place).
#if WSH_PY39
inline void set_var_size(PyObject* obj, Py_ssize_t size) { Py_SET_SIZE(obj, size); }
#else
inline void set_var_size(PyObject* obj, Py_ssize_t size) { Py_SIZE(obj) = size; }
#endif

}  // namespace wsh::compat
