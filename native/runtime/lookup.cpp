#include "runtime/lookup.h"

#include "runtime/compat.h"

namespace wsh {

#if WSH_PY312
namespace detail {

std::uint64_t watched_dicts_version = 1;
bool dicts_unwatched = false;

}  // namespace detail

namespace {

int on_watched_dict_event(PyDict_WatchEvent, PyObject*, PyObject*, PyObject*) {
    ++detail::watched_dicts_version;
    return 0;
}

}  // namespace

// One watcher per interpreter; there are only a few in all, and other
// extensions may have taken them.
int watch_dict(PyObject* dict) {
    static int watcher = -1;
    static std::int64_t watcher_interpreter = -1;
    if (detail::dicts_unwatched) return 0;
    const std::int64_t interpreter = compat::current_interpreter_id();
    if (watcher < 0 || watcher_interpreter != interpreter) {
        const int added = PyDict_AddWatcher(on_watched_dict_event);
        if (added < 0) {
            if (!PyErr_ExceptionMatches(PyExc_RuntimeError)) return -1;
            PyErr_Clear();
            detail::dicts_unwatched = true;
            return 0;
        }
        watcher = added;
        watcher_interpreter = interpreter;
    }
    return PyDict_Watch(watcher, dict);
}
#else
int watch_dict(PyObject*) { return 0; }
#endif

Ref get_attr_quiet(PyObject* obj, PyObject* name) {
    PyObject* result = nullptr;
    compat::get_optional_attr(obj, name, &result);
    return Ref::steal(result);
}

Ref get_builtin(PyObject* name) {
    Ref result = get_attr_quiet(runtime_state().builtins_module.get(), name);
    if (!result && !PyErr_Occurred()) {
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    }
    return result;
}

Ref get_module_global_uncached(PyObject* name, GlobalLookupCache& cache) {
    PyObject* dict = runtime_state().module_dict.get();
    if (cache.version == dict_version(dict)) {
        if (cache.value != nullptr) return Ref::borrow(cache.value);
        return get_builtin(name);
    }
    Py_hash_t hash = compat::str_cached_hash(name);
    if (hash == -1) {
        hash = PyObject_Hash(name);
        if (hash == -1) return Ref();
    }
    PyObject* value = compat::dict_get_known_hash(dict, name, hash);
    // A key's __eq__ may have raised: that error is the result, and the cache
    // stays as it was.
    if (value == nullptr && PyErr_Occurred()) return Ref();
    // Read after the look-up, which may have run code that changed the dict.
    cache.version = remembered_dict_version(dict);
    cache.value = value;
    if (value != nullptr) return Ref::borrow(value);
    return get_builtin(name);
}

namespace {

Ref module_attr_uncached(PyObject* module, PyObject* name, AttributeLookupCache& cache) {
    // The module type's attribute read takes the type's attributes first,
    // then the dictionary, then the module's __getattr__. With no type
    // attribute of that name (the module type itself cannot change), a name
    // found in the dictionary is the result, and stays it while the
    // dictionary does.
    if (_PyType_Lookup(&PyModule_Type, name) != nullptr) {
        return Ref::steal(PyObject_GetAttr(module, name));
    }
    PyObject* dict = PyModule_GetDict(module);  // null once a dying module was cleared
    if (dict == nullptr) return Ref::steal(PyObject_GetAttr(module, name));
    if (watch_dict(dict) < 0) {
        PyErr_Clear();  // only a cache is lost: read it the full way
        return Ref::steal(PyObject_GetAttr(module, name));
    }
    PyObject* value = PyDict_GetItemWithError(dict, name);
    if (value == nullptr) {
        if (PyErr_Occurred()) return Ref();
        return Ref::steal(PyObject_GetAttr(module, name));  // __getattr__, or the usual error
    }
    // Read after the look-up, which may have run code that changed the dict.
    cache = {module, dict, remembered_dict_version(dict), 0, value};
    return Ref::borrow(value);
}

// Whether the metaclass reads an attribute the class has as `type` itself
// does: with type's own read, or with the hook of a metaclass that has a
// __getattr__ (asked only when the read finds nothing) around type's own
// __getattribute__, as the enum classes' metaclass up to 3.11.
bool reads_found_attributes_as_type(PyTypeObject* meta) {
    if (meta->tp_getattro == PyType_Type.tp_getattro) return true;
    const Ref name = Ref::steal(PyUnicode_InternFromString("__getattribute__"));
    if (!name) {
        PyErr_Clear();  // only a cache is lost
        return false;
    }
    PyObject* own = _PyType_Lookup(meta, name.get());
    return own != nullptr && own == _PyType_Lookup(&PyType_Type, name.get());
}

Ref class_attr_uncached(PyObject* obj, PyObject* name, AttributeLookupCache& cache) {
    // The interpreter's own read gives the value, and both types their
    // version tags on the way.
    Ref value = Ref::steal(PyObject_GetAttr(obj, name));
    if (!value) return value;
    // The class attribute read takes a metaclass attribute of that name
    // first (a data descriptor outright, anything else after the class's
    // own), then the class's own attribute through its descriptor, if it is
    // one. With neither, the class's own attribute is the result, and stays
    // it while neither type changes.
    auto* cls = reinterpret_cast<PyTypeObject*>(obj);
    PyTypeObject* meta = Py_TYPE(obj);
    const unsigned int version = compat::type_version(cls);
    const unsigned int meta_version = compat::type_version(meta);
    // The metaclass's read is asked about last: a class attribute that is
    // a descriptor (the enum members from 3.11) is read the full way every
    // time, and should cost no more than that.
    if (version != 0 && meta_version != 0 && _PyType_Lookup(cls, name) == value.get() &&
        Py_TYPE(value.get())->tp_descr_get == nullptr && _PyType_Lookup(meta, name) == nullptr &&
        reads_found_attributes_as_type(meta) && version == compat::type_version(cls) &&
        meta_version == compat::type_version(meta)) {
        cache = {obj, nullptr, version, meta_version, value.get()};
    }
    return value;
}

}  // namespace

Ref read_dotted_uncached(ReadingPlace& place, StringId global, std::span<const StringId> names) {
    Ref value = read_global(global, place);
    for (std::size_t step = 0; value && step < names.size(); ++step) {
        value = read_attr(value.get(), names[step], place, static_cast<int>(step));
    }
    return value;
}

Ref get_attr_uncached(PyObject* obj, PyObject* name, AttributeLookupCache& cache) {
    cache = {};
    if (Py_TYPE(obj) == &PyModule_Type) return module_attr_uncached(obj, name, cache);
    if (PyType_Check(obj)) return class_attr_uncached(obj, name, cache);
    return Ref::steal(PyObject_GetAttr(obj, name));
}

}  // namespace wsh
