#include "module/import_operations.h"

#include "runtime/ref.h"
#include "runtime/runtime_state.h"
#include "string_table_data.h"

namespace wsh {

namespace {

Ref full_import(PyObject* name, PyObject* const* from_list, Py_ssize_t count,
                PyObject* globals) {
    Ref locals = Ref::steal(PyDict_New());
    if (!locals) return Ref();
    Ref names;
    if (from_list != nullptr) {
        names = Ref::steal(PyList_New(count));
        if (!names) return Ref();
        for (Py_ssize_t i = 0; i < count; ++i) {
            PyList_SET_ITEM(names.get(), i, new_reference(from_list[i]));
        }
    }
    return Ref::steal(
        PyImport_ImportModuleLevelObject(name, globals, locals.get(), names.get(), 0));
}

// sys.modules' entry for `name`; None there means "import halted", which
// only the import system reports, so it counts as absent here.
Ref loaded_module(PyObject* name) {
    Ref module = Ref::steal(PyImport_GetModule(name));
    if (module.get() == Py_None) module.reset();
    return module;
}

}  // namespace

Ref import_module(PyObject* name, PyObject* const* from_list, Py_ssize_t count,
                  PyObject* globals) {
    Ref module = loaded_module(name);
    if (!module) {
        if (PyErr_Occurred()) return Ref();
        return full_import(name, from_list, count, globals);
    }
    if (from_list != nullptr) {
        for (Py_ssize_t i = 0; i < count; ++i) {
            if (!PyObject_HasAttr(module.get(), from_list[i])) {
                return full_import(name, from_list, count, globals);
            }
        }
        return module;
    }
    const Py_ssize_t dot = PyUnicode_FindChar(name, '.', 0, PyUnicode_GET_LENGTH(name), 1);
    if (dot == -2) return Ref();
    if (dot == -1) return module;
    // A dotted plain import gives the top-level package.
    module.reset();
    Ref top = Ref::steal(PyUnicode_Substring(name, 0, dot));
    if (!top) return Ref();
    Ref package = loaded_module(top.get());
    if (package || PyErr_Occurred()) return package;
    return full_import(name, from_list, count, globals);
}

Ref import_from(PyObject* module, PyObject* name) {
    getattrofunc getattro = Py_TYPE(module)->tp_getattro;
    Ref value = Ref::steal(getattro != nullptr ? getattro(module, name)
                                               : PyObject_GetAttr(module, name));
    if (value) return value;
    if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        // A submodule not yet bound as an attribute of its package.
        const char* module_name = PyModule_GetName(module);
        Ref full_name;
        if (module_name != nullptr) {
            full_name = Ref::steal(PyUnicode_FromFormat("%s%U%U", module_name, str(s_dot), name));
        }
        if (full_name) {
            Ref entry = Ref::steal(PyImport_GetModule(full_name.get()));
            if (entry) return entry;
        }
    }
    PyErr_Format(PyExc_ImportError, "cannot import name %S", name);
    return Ref();
}

}  // namespace wsh
