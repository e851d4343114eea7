// The create hook: one interpreter per process, one module per successful load.
#include "module/hooks.h"
#include "module/state.h"
#include "runtime/compat.h"

namespace wsh {

namespace {

struct SpecAttribute {
    const char* attribute;
    const char* key;
    bool store_none;
};

constexpr SpecAttribute spec_attributes[] = {
    {"loader", "__loader__", true},
    {"origin", "__file__", true},
    {"parent", "__package__", true},
    {"submodule_search_locations", "__path__", false},
};

int copy_spec_attribute(PyObject* spec, PyObject* dict, const SpecAttribute& a) {
    Ref value = Ref::steal(PyObject_GetAttrString(spec, a.attribute));
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        return 0;
    }
    if (value.get() == Py_None && !a.store_none) return 0;
    return PyDict_SetItemString(dict, a.key, value.get());
}

}  // namespace

PyObject* module_create(PyObject* spec, PyModuleDef*) {
    const std::int64_t id = compat::current_interpreter_id();
    if (id == -1) return nullptr;
    LoadingStatics& ld = loading_statics();
    if (ld.main_interpreter_id == -1) {
        ld.main_interpreter_id = id;
    } else if (id != ld.main_interpreter_id) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return nullptr;
    }
    if (ld.module_object) return ld.module_object.new_reference();

    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    if (!name) return nullptr;
    Ref module = Ref::steal(PyModule_NewObject(name.get()));
    name.reset();
    if (!module) return nullptr;
    Ref dict = Ref::borrow(PyModule_GetDict(module.get()));
    if (!dict) return nullptr;
    for (const SpecAttribute& a : spec_attributes) {
        if (copy_spec_attribute(spec, dict.get(), a) < 0) return nullptr;
    }
    return module.release();
}

}  // namespace wsh
