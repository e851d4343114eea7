// Look-ups: attribute reads, builtins and the cached module-global read,
// on this module's own dictionary.
#include "runtime/compat.h"
#include "runtime/lookup.h"
#include "runtime/never_destroyed.h"
#include "runtime/runtime_state.h"
#include "tests/native/testmod.h"

namespace wsh::testmod {

namespace {

// The tests' own reading places.
constexpr long test_place_count = 4;
constinit NeverDestroyed<ReadingPlace[test_place_count]> test_places;

GlobalLookupCache* place_cache(PyObject* index) {
    const long place = PyLong_AsLong(index);
    if (place == -1 && PyErr_Occurred()) return nullptr;
    if (place < 0 || place >= test_place_count) {
        PyErr_SetString(PyExc_IndexError, "no such test place");
        return nullptr;
    }
    return &test_places.get()[place].global;
}

// get_attr_quiet(obj, name) -> (found, value or None)
PyObject* t_get_attr_quiet(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2 || !PyUnicode_Check(args[1])) {
        PyErr_SetString(PyExc_TypeError, "get_attr_quiet(obj, name)");
        return nullptr;
    }
    Ref value = get_attr_quiet(args[0], args[1]);
    if (!value && PyErr_Occurred()) return nullptr;
    return Py_BuildValue("(OO)", value ? Py_True : Py_False, value ? value.get() : Py_None);
}

PyObject* t_get_builtin(PyObject*, PyObject* name) {
    if (!PyUnicode_Check(name)) {
        PyErr_SetString(PyExc_TypeError, "get_builtin(name)");
        return nullptr;
    }
    return get_builtin(name).release();
}

// get_module_global(place, name)
PyObject* t_get_module_global(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2 || !PyUnicode_CheckExact(args[1])) {
        PyErr_SetString(PyExc_TypeError, "get_module_global(place, name)");
        return nullptr;
    }
    GlobalLookupCache* cache = place_cache(args[0]);
    if (cache == nullptr) return nullptr;
    return get_module_global(args[1], *cache).release();
}

// global_cache(place) -> (version, holds a value, version is current)
PyObject* t_global_cache(PyObject*, PyObject* index) {
    GlobalLookupCache* cache = place_cache(index);
    if (cache == nullptr) return nullptr;
    const bool current = cache->version == dict_version(runtime_state().module_dict.get());
    return Py_BuildValue("(KOO)", static_cast<unsigned long long>(cache->version),
                         cache->value ? Py_True : Py_False, current ? Py_True : Py_False);
}

PyObject* t_reset_global_cache(PyObject*, PyObject* index) {
    GlobalLookupCache* cache = place_cache(index);
    if (cache == nullptr) return nullptr;
    *cache = GlobalLookupCache{};
    Py_RETURN_NONE;
}

}  // namespace

PyMethodDef lookup_methods[] = {
    {"get_attr_quiet", stored_entry_point(t_get_attr_quiet),
     METH_FASTCALL, nullptr},
    {"get_builtin", t_get_builtin, METH_O, nullptr},
    {"get_module_global",
     stored_entry_point(t_get_module_global),
     METH_FASTCALL, nullptr},
    {"global_cache", t_global_cache, METH_O, nullptr},
    {"reset_global_cache", t_reset_global_cache, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace wsh::testmod
