#include "runtime/registry.h"

#include <structmember.h>

#include <cstring>

#include "runtime/compat.h"
#include "runtime/ref.h"

namespace wsh {

namespace {

void* find_slot(const PyType_Spec* spec, int slot_id) {
    for (const PyType_Slot* slot = spec->slots; slot->slot != 0; ++slot) {
        if (slot->slot == slot_id) return slot->pfunc;
    }
    return nullptr;
}

// The special entries of a PyType_Spec's member table: three offsets the
// type's records carry, and the __module__ member.
enum class SpecialMember { none, weaklist_offset, dict_offset, vectorcall_offset, module };

SpecialMember special_member(const char* name) {
    static constexpr struct {
        const char* name;
        SpecialMember kind;
    } special_members[] = {
        {"__weaklistoffset__", SpecialMember::weaklist_offset},
        {"__dictoffset__", SpecialMember::dict_offset},
        {"__vectorcalloffset__", SpecialMember::vectorcall_offset},
        {"__module__", SpecialMember::module},
    };
    if (name[0] != '_' || name[1] != '_') return SpecialMember::none;
    for (const auto& entry : special_members) {
        if (std::strcmp(name, entry.name) == 0) return entry.kind;
    }
    return SpecialMember::none;
}

// The instance-record offsets that the PyType_Spec's special members name;
// 0 where it names none.
struct SpecialOffsets {
    Py_ssize_t weaklist = 0;
    Py_ssize_t dict = 0;
    Py_ssize_t vectorcall = 0;
};

SpecialOffsets special_offsets(const PyType_Spec* spec) {
    SpecialOffsets offsets;
    auto* members = static_cast<const PyMemberDef*>(find_slot(spec, Py_tp_members));
    for (const PyMemberDef* m = members; m != nullptr && m->name != nullptr; ++m) {
        switch (special_member(m->name)) {
        case SpecialMember::weaklist_offset: offsets.weaklist = m->offset; break;
        case SpecialMember::dict_offset: offsets.dict = m->offset; break;
        case SpecialMember::vectorcall_offset: offsets.vectorcall = m->offset; break;
        case SpecialMember::module:
        case SpecialMember::none: break;
        }
    }
    return offsets;
}

int store_descriptor(PyTypeObject* type, Ref descriptor) {
    if (!descriptor) return -1;
    return PyDict_SetItem(type->tp_dict, PyDescr_NAME(descriptor.get()), descriptor.get());
}

// A type made by another module (or put there by anything else) is used only
// if instances of our own record can safely be handled as its instances.
bool has_expected_layout(PyTypeObject* t, PyTypeObject* metaclass, const PyType_Spec* spec,
                         PyObject* bases) {
    if (!(t->tp_flags & Py_TPFLAGS_HEAPTYPE)) return false;
    if ((spec->flags & Py_TPFLAGS_HAVE_GC) && !(t->tp_flags & Py_TPFLAGS_HAVE_GC)) return false;
    if (metaclass != nullptr && Py_TYPE(t) != metaclass) return false;
    Py_ssize_t expected_size = spec->basicsize;
    if (bases != nullptr) {
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(bases); ++i) {
            auto* base = reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(bases, i));
            if (!PyType_IsSubtype(t, base)) return false;
            if (i == 0 && expected_size == 0) expected_size = base->tp_basicsize;
        }
    }
    if (expected_size != 0 && t->tp_basicsize != expected_size) return false;
    const SpecialOffsets offsets = special_offsets(spec);
    if (offsets.weaklist != 0 && t->tp_weaklistoffset != offsets.weaklist) return false;
    if (offsets.dict != 0 && t->tp_dictoffset != offsets.dict) return false;
    if (offsets.vectorcall != 0 &&
        (t->tp_vectorcall_offset != offsets.vectorcall ||
         !(t->tp_flags & compat::tpflags_have_vectorcall))) {
        return false;
    }
    return true;
}

int verify_shared_type(PyObject* existing, const char* short_name, PyTypeObject* metaclass,
                       const PyType_Spec* spec, PyObject* bases) {
    if (!PyType_Check(existing)) {
        PyErr_Format(PyExc_TypeError, "Shared Cython type %.200s is not a type object", short_name);
        return -1;
    }
    if (!has_expected_layout(reinterpret_cast<PyTypeObject*>(existing), metaclass, spec, bases)) {
        PyErr_Format(PyExc_TypeError, "Shared Cython type %.200s has the wrong size, try recompiling",
                     short_name);
        return -1;
    }
    return 0;
}

}  // namespace

int apply_type_fixups(PyTypeObject* type, const PyType_Spec* spec) {
    bool changed = false;
    auto* members = static_cast<PyMemberDef*>(find_slot(spec, Py_tp_members));
    for (PyMemberDef* m = members; m != nullptr && m->name != nullptr; ++m) {
        switch (special_member(m->name)) {
        case SpecialMember::weaklist_offset: type->tp_weaklistoffset = m->offset; break;
        case SpecialMember::dict_offset: type->tp_dictoffset = m->offset; break;
        case SpecialMember::vectorcall_offset:
            // The flag only ever goes together with a valid offset.
            type->tp_vectorcall_offset = m->offset;
            type->tp_flags |= compat::tpflags_have_vectorcall;
            break;
        case SpecialMember::module:
            if (store_descriptor(type, Ref::steal(PyDescr_NewMember(type, m))) < 0) return -1;
            break;
        case SpecialMember::none: continue;
        }
        changed = true;
    }
    auto* getset = static_cast<PyGetSetDef*>(find_slot(spec, Py_tp_getset));
    for (PyGetSetDef* g = getset; g != nullptr && g->name != nullptr; ++g) {
        if (special_member(g->name) != SpecialMember::module) continue;
        if (store_descriptor(type, Ref::steal(PyDescr_NewGetSet(type, g))) < 0) return -1;
        changed = true;
    }
    if (changed) PyType_Modified(type);
    return 0;
}

Ref fetch_shared_type(PyTypeObject* metaclass, PyType_Spec* spec, PyObject* bases) {
    const char* dot = std::strrchr(spec->name, '.');
    const char* short_name = dot != nullptr ? dot + 1 : spec->name;
    Ref key = Ref::steal(PyUnicode_FromString(short_name));
    if (!key) return Ref();
    Ref registry = Ref::borrow(PyImport_AddModule(shared_registry_name));
    if (!registry) return Ref();
    Ref dict = Ref::borrow(PyModule_GetDict(registry.get()));
    if (!dict) return Ref();

    Ref existing = Ref::borrow(PyDict_GetItemWithError(dict.get(), key.get()));
    if (!existing) {
        if (PyErr_Occurred()) return Ref();
        // Interpreters that act on the no-instantiation flag drop the type's
        // own construction slot, and then crash deriving from a type of this
        // metaclass (they call the missing slot): the flag is set only after
        // creation, where it just reports. The slots refuse instantiation.
        PyType_Spec creation_spec = *spec;
        creation_spec.flags &= ~static_cast<unsigned int>(Py_TPFLAGS_DISALLOW_INSTANTIATION);
        Ref created = Ref::steal(compat::type_from_spec(metaclass, &creation_spec, bases));
        if (!created) return Ref();
        auto* type = reinterpret_cast<PyTypeObject*>(created.get());
        type->tp_flags |= spec->flags & Py_TPFLAGS_DISALLOW_INSTANTIATION;
        if (apply_type_fixups(type, spec) < 0) return Ref();
        existing = Ref::borrow(PyDict_SetDefault(dict.get(), key.get(), created.get()));
        if (!existing) return Ref();
        // Another module registered its type first: that one is shared.
        if (existing.get() == created.get()) return created;
    }
    if (verify_shared_type(existing.get(), short_name, metaclass, spec, bases) < 0) return Ref();
    return existing;
}

}  // namespace wsh
