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

// The module global `name` read at `site`, through that place's own cache.
inline Ref read_global(StringId name, GlobalSite site) {
    return Ref::steal(get_module_global(str(name), state().global_lookup_cache[site]));
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

// Attribute `name` of `obj`, the `step`th attribute read (from 0) after the
// global read at `site`, through that read's own cache.
inline Ref read_module_attr(PyObject* obj, StringId name, GlobalSite site, int step) {
    return Ref::steal(get_module_attr(obj, str(name), state().attribute_lookup_cache[site][step]));
}

}  // namespace wsh
