// Attribute reads, builtins and the cached read of module globals.
#pragma once

#include <Python.h>

#include "module/state.h"
#include "runtime/compat.h"
#include "runtime/ref.h"

namespace wsh {

// A new reference to the attribute, or null: without an exception when the
// attribute is missing (AttributeError), with one for any other failure.
PyObject* get_attr_quiet(PyObject* obj, PyObject* name);

// A new reference to the builtin `name`, or null with NameError.
PyObject* get_builtin(PyObject* name);

// The look-up of get_module_global when the pair is out of date, or when it
// remembers that the module dictionary lacks the name.
PyObject* get_module_global_uncached(PyObject* name, GlobalLookupCache& cache);

// The module global `name` (a constant-table str), else the builtin of that
// name, else NameError; a new reference or null. `cache` is the reading
// place's own pair: while the module dictionary's version is unchanged a
// read costs one comparison and no dictionary look-up.
inline PyObject* get_module_global(PyObject* name, GlobalLookupCache& cache) {
    PyObject* dict = state().module_dict.get();
    if (cache.version == compat::dict_version(dict) && cache.value != nullptr) {
        // The borrowed value is valid only now: take a reference at once.
        return Ref::borrow(cache.value).release();
    }
    return get_module_global_uncached(name, cache);
}

// The read of get_module_attr when `cache` does not hold it.
PyObject* get_module_attr_uncached(PyObject* obj, PyObject* name, AttributeLookupCache& cache);

// getattr(obj, name), a new reference or null. `cache` is the reading
// place's own: when obj is a plain module that holds the name in its
// dictionary, a repeated read costs a few comparisons while that dictionary
// is unchanged. Anything else is read the full way every time.
inline PyObject* get_module_attr(PyObject* obj, PyObject* name, AttributeLookupCache& cache) {
    if (Py_TYPE(obj) == &PyModule_Type && cache.value != nullptr) {
        PyObject* dict = PyModule_GetDict(obj);
        if (dict == cache.dict && cache.version == compat::dict_version(dict)) {
            return Ref::borrow(cache.value).release();
        }
    }
    return get_module_attr_uncached(obj, name, cache);
}

}  // namespace wsh
