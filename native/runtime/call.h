// Calling objects and methods with Python's semantics, short-cutting the
// common cases so that no argument tuple is built where the callee can do
// without one.
//
// A count `nargsf` may carry the arguments-offset flag, which lets the callee
// use the slot just before the first value; the positional count is the count
// with that bit masked off.
#pragma once

#include <Python.h>

#include <cstddef>

#include "runtime/compat.h"
#include "runtime/ref.h"

namespace wsh {

// The positional count of `nargsf`.
inline Py_ssize_t positional_count(std::size_t nargsf) { return PyVectorcall_NARGS(nargsf); }

// The call slot with an argument tuple and a keyword dict (or null), under
// the recursion guard.
Ref call_object(PyObject* callable, PyObject* args, PyObject* kwargs);

// The common call: values plus an optional keyword dict, by the cheapest
// path the callee allows.
Ref call_fast_dict(PyObject* callable, PyObject* const* values, std::size_t nargsf,
                   PyObject* kwargs);

// values[0] is the object; values[1..] are the values of `keyword_names`.
// Calls attribute `name` of the object with those keyword arguments only.
// values[0] must be writable: the callee may use its slot meanwhile.
Ref call_method_keywords(PyObject* name, PyObject* const* values, PyObject* keyword_names);

// values[0] is the object; calls its attribute `name` with values[1..] as
// positional arguments (`nargs` counts the object too). values[0] must be
// writable, as above.
Ref call_method_by_name(PyObject* name, PyObject* const* values, std::size_t nargs);

// One place that calls a method of objects without attributes of their own
// (no __dict__): the type (identity only), its version tag and the function
// its look-up found then (borrowed, valid while the tag is unchanged).
struct MethodLookupCache {
    PyTypeObject* type = nullptr;
    unsigned int version = 0;
    PyObject* function = nullptr;
};

// The call of call_method_cached when `cache` does not hold the method.
Ref call_method_uncached(PyObject* name, PyObject* const* values, std::size_t nargs,
                         MethodLookupCache& cache);

// call_method_by_name, with the look-up remembered in `cache` for an object
// whose type takes attributes the generic way and whose instances cannot
// hold one of their own: while the type keeps its version tag, the function
// found is called again without a look-up.
inline Ref call_method_cached(PyObject* name, PyObject* const* values, std::size_t nargs,
                              MethodLookupCache& cache) {
    PyTypeObject* type = Py_TYPE(values[0]);
    if (type == cache.type && cache.function != nullptr &&
        cache.version == compat::type_version(type)) {
        // Held for the call, which may change the type.
        const Ref function = Ref::borrow(cache.function);
        return call_fast_dict(function.get(), values, nargs, nullptr);
    }
    return call_method_uncached(name, values, nargs, cache);
}

}  // namespace wsh
