// Attribute reads, builtins and the cached reads of module globals and of
// the attributes read right after them.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "runtime/compat.h"
#include "runtime/ref.h"
#include "runtime/runtime_state.h"

namespace wsh {

// --- The module dictionary's version ------------------------------------

#if WSH_PY312
// Dictionaries no longer publish a version tag: the module dictionary is
// watched instead (watch_dict), and every event of a watched dictionary
// moves one counter on.
namespace detail {
extern std::uint64_t watched_dicts_version;  // 0 never matches: a fresh cache is stale
// No watcher could be had: nothing tells us of a change, so no read may be
// remembered and every read is a full look-up.
extern bool dicts_unwatched;
}  // namespace detail

// A tag that changes on every modification of a dictionary given to
// watch_dict (and only of those).
inline std::uint64_t dict_version(PyObject*) { return detail::watched_dicts_version; }

// The tag to remember with a read of `dict` made now: its current tag, or 0,
// which never matches one, while no watcher tells of changes.
inline std::uint64_t remembered_dict_version(PyObject* dict) {
    return detail::dicts_unwatched ? 0 : dict_version(dict);
}
#else
// The dictionary's version tag: changes on every modification, and is never
// 0.
inline std::uint64_t dict_version(PyObject* dict) {
    return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
}

inline std::uint64_t remembered_dict_version(PyObject* dict) { return dict_version(dict); }
#endif

// Makes dict_version track `dict`: 0, or -1 with an exception set. Without a
// free watcher the caches fall back to full look-ups: that is not an error.
// Where every dictionary carries a version tag there is nothing to set up.
int watch_dict(PyObject* dict);

// One reading place of a module global: the dictionary version seen at the
// last look-up and the value found then (borrowed, valid only while the
// version matches).
struct GlobalLookupCache {
    std::uint64_t version = 0;
    PyObject* value = nullptr;
};

// One attribute read after a global read. Of a module, keyed on the module's
// dictionary (identity only) and that dictionary's version; of a class,
// keyed on the class (identity only), its version tag and its metaclass's.
// The value found then is borrowed, valid only while the key holds.
struct AttributeLookupCache {
    PyObject* owner = nullptr;      // the module, or the class
    PyObject* dict = nullptr;       // the module's dictionary; null for a class
    std::uint64_t version = 0;      // the dictionary's version, or the class's tag
    unsigned int meta_version = 0;  // the metaclass's tag (classes only)
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

// The attribute, or an empty handle: without an exception when the
// attribute is missing (AttributeError), with one for any other failure.
Ref get_attr_quiet(PyObject* obj, PyObject* name);

// The builtin `name`, or an empty handle with NameError.
Ref get_builtin(PyObject* name);

// The look-up of get_module_global when the cache is out of date, or when it
// remembers that the module dictionary lacks the name.
Ref get_module_global_uncached(PyObject* name, GlobalLookupCache& cache);

// What `cache` holds for a read now, borrowed and valid only until code
// runs; null where the read needs a look-up (or the builtins).
inline Borrowed cached_global(const GlobalLookupCache& cache) {
    if (cache.version != dict_version(runtime_state().module_dict.get())) return Borrowed();
    return Borrowed(cache.value);
}

// The module global `name` (a constant-table str), else the builtin of that
// name, else NameError (an empty handle). `cache` is the reading
// place's own cache: while the module dictionary's version is unchanged a
// read costs one comparison and no dictionary look-up.
inline Ref get_module_global(PyObject* name, GlobalLookupCache& cache) {
    // The borrowed value is valid only now: take a reference at once.
    if (Borrowed value = cached_global(cache)) return Ref::borrow(value);
    return get_module_global_uncached(name, cache);
}

// The module global `name` read at `place`.
inline Ref read_global(StringId name, ReadingPlace& place) {
    return get_module_global(str(name), place.global);
}

// The read of get_attr_cached when `cache` does not hold it.
Ref get_attr_uncached(PyObject* obj, PyObject* name, AttributeLookupCache& cache);

// What `cache` holds for getattr(obj, ...) now, borrowed and valid only
// until code runs; null where the read needs a look-up.
inline Borrowed cached_attr(PyObject* obj, const AttributeLookupCache& cache) {
    if (cache.value == nullptr) return Borrowed();
    if (Py_TYPE(obj) == &PyModule_Type) {
        PyObject* dict = PyModule_GetDict(obj);
        if (dict == cache.dict && cache.version == dict_version(dict)) return Borrowed(cache.value);
    } else if (obj == cache.owner && PyType_Check(obj)) {
        auto* cls = reinterpret_cast<PyTypeObject*>(obj);
        if (cache.version == compat::type_version(cls) &&
            cache.meta_version == compat::type_version(Py_TYPE(obj))) {
            return Borrowed(cache.value);
        }
    }
    return Borrowed();
}

// getattr(obj, name), or an empty handle with an exception. `cache` is the reading
// place's own. A plain module's attribute found in its dictionary is read
// again for a few comparisons while that dictionary is unchanged; so is a
// class's own attribute that is no descriptor, while neither the class nor
// its metaclass changes and the metaclass neither customises reading an
// attribute the class has nor has an attribute of that name. Anything else is read the full
// way every time.
inline Ref get_attr_cached(PyObject* obj, PyObject* name, AttributeLookupCache& cache) {
    if (Borrowed value = cached_attr(obj, cache)) return Ref::borrow(value);
    return get_attr_uncached(obj, name, cache);
}

// Attribute `name` of `obj`, the `step`th attribute read (from 0) after the
// global read at `place`.
inline Ref read_attr(PyObject* obj, StringId name, ReadingPlace& place, int step) {
    return get_attr_cached(obj, str(name), place.attributes[step]);
}

// Whether what `cache` remembers still holds, the object it was filled from
// taken as the one read from now (which keeps it, and a module's
// dictionary, alive): a module still of the plain module type (its class
// can be changed) with that dictionary's version, or a class and metaclass
// with their tags.
inline bool attr_cache_holds(const AttributeLookupCache& cache) {
    if (cache.value == nullptr) return false;
    if (cache.dict != nullptr) {
        return Py_TYPE(cache.owner) == &PyModule_Type &&
               cache.version == dict_version(cache.dict);
    }
    auto* cls = reinterpret_cast<PyTypeObject*>(cache.owner);
    return cache.version == compat::type_version(cls) &&
           cache.meta_version == compat::type_version(Py_TYPE(cache.owner));
}

// What the caches of `place` hold for the global and its first `links`
// attributes now, borrowed and valid only until code runs; null where a read
// needs a look-up. Every read at a place goes along the whole chain and
// fills or checks each link's cache from the object the link before gave
// then. So while a link holds, the object it gives is the one the next
// link's cache was filled from, and that link's key alone is checked: no
// object on the way is looked at. From 3.12 every module link compares the
// one counter the global read loaded already.
template <std::size_t links>
inline Borrowed cached_chain(const ReadingPlace& place) {
    static_assert(links <= ReadingPlace::attribute_chain_length);
    const Borrowed value = cached_global(place.global);
    if (!value) return Borrowed();
    // One check per link, written out: no loop to run.
    const bool holds = [&]<std::size_t... step>(std::index_sequence<step...>) {
        return (attr_cache_holds(place.attributes[step]) && ...);
    }(std::make_index_sequence<links>());
    if constexpr (links == 0) return value;
    else return holds ? Borrowed(place.attributes[links - 1].value) : Borrowed();
}

// The read of read_dotted when a cache does not hold its part.
Ref read_dotted_uncached(ReadingPlace& place, StringId global, std::span<const StringId> names);

// global.name1.name2...: the module global `global` and then its attributes
// `names` in turn, each read through its own cache at `place`. While every
// cache holds, no read runs code, so the objects on the way need no
// reference of their own. A new reference, or an empty handle with an
// exception set.
template <typename... Names>
inline Ref read_dotted(ReadingPlace& place, StringId global, Names... names) {
    if (Borrowed value = cached_chain<sizeof...(Names)>(place)) return Ref::borrow(value);
    const std::array<StringId, sizeof...(Names)> ids = {names...};
    return read_dotted_uncached(place, global, ids);
}

}  // namespace wsh
