#include "runtime/lookup.h"

#include "runtime/compat.h"
#include "runtime/exceptions.h"

namespace wsh {

PyObject* get_attr_quiet(PyObject* obj, PyObject* name) {
    getattrofunc getattro = Py_TYPE(obj)->tp_getattro;
    if (getattro == PyObject_GenericGetAttr) return compat::generic_getattr_suppressed(obj, name);
    PyObject* result = getattro != nullptr ? getattro(obj, name) : PyObject_GetAttr(obj, name);
    if (result == nullptr && exception_matches(PyExc_AttributeError)) PyErr_Clear();
    return result;
}

PyObject* get_builtin(PyObject* name) {
    PyObject* result = get_attr_quiet(state().builtins_module.get(), name);
    if (result == nullptr && !PyErr_Occurred()) {
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    }
    return result;
}

PyObject* get_module_global_uncached(PyObject* name, GlobalLookupCache& cache) {
    PyObject* dict = state().module_dict.get();
    if (cache.version == compat::dict_version(dict)) {
        if (cache.value != nullptr) return Ref::borrow(cache.value).release();
        return get_builtin(name);
    }
    Py_hash_t hash = compat::str_cached_hash(name);
    if (hash == -1) {
        hash = PyObject_Hash(name);
        if (hash == -1) return nullptr;
    }
    PyObject* value = compat::dict_get_known_hash(dict, name, hash);
    // A key's __eq__ may have raised: that error is the result, and the pair
    // stays as it was.
    if (value == nullptr && PyErr_Occurred()) return nullptr;
    // Read after the look-up, which may have run code that changed the dict.
    cache.version = compat::dict_version(dict);
    cache.value = value;
    if (value != nullptr) return Ref::borrow(value).release();
    return get_builtin(name);
}

}  // namespace wsh
