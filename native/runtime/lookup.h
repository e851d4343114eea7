// Attribute reads, builtins and the cached read of module globals.
#pragma once

#include <Python.h>

#include <cstdint>

#include "runtime/compat.h"
#include "runtime/ref.h"
#include "runtime/runtime_state.h"

namespace wsh {

// One reading place of a module global: the dictionary version seen at the
// last look-up and the value found then (borrowed, valid only while the
// version matches).
struct GlobalLookupCache {
    std::uint64_t version = 0;
    PyObject* value = nullptr;
};

// One attribute read of a module, after a global read: the module dictionary
// it came from (identity only), that dictionary's version and the value
// found then (borrowed, valid only while the version matches).
struct AttributeLookupCache {
    PyObject* dict = nullptr;
    std::uint64_t version = 0;
    PyObject* value = nullptr;
};

// A place in the code that reads a module global and at most two attributes
// after it (requests.exceptions.ConnectionError), each read with its own
// cache. Every layer keeps the places of its own code.
struct ReadingPlace {
    static constexpr int attribute_chain_length = 2;
    GlobalLookupCache global;
    AttributeLookupCache attributes[attribute_chain_length];
};

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
    PyObject* dict = runtime_state().module_dict.get();
    if (cache.version == compat::dict_version(dict) && cache.value != nullptr) {
        // The borrowed value is valid only now: take a reference at once.
        return new_reference(cache.value);
    }
    return get_module_global_uncached(name, cache);
}

// The module global `name` read at `place`.
inline Ref read_global(StringId name, ReadingPlace& place) {
    return Ref::steal(get_module_global(str(name), place.global));
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
            return new_reference(cache.value);
        }
    }
    return get_module_attr_uncached(obj, name, cache);
}

// Attribute `name` of `obj`, the `step`th attribute read (from 0) after the
// global read at `place`.
inline Ref read_module_attr(PyObject* obj, StringId name, ReadingPlace& place, int step) {
    return Ref::steal(get_module_attr(obj, str(name), place.attributes[step]));
}

}  // namespace wsh
