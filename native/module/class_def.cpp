#include "module/class_def.h"

#include "handler/method_table.h"
#include "module/source_lines.h"
#include "runtime/call.h"
#include "runtime/exception_matching.h"
#include "runtime/function.h"
#include "runtime/lookup.h"
#include "runtime/runtime_state.h"

namespace wsh {

namespace {

Ref annotations_dict(const HandlerMethod& method) {
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return dict;
    for (const Annotation& annotation : method.annotations) {
        if (PyDict_SetItem(dict.get(), str(annotation.name), str(annotation.text)) < 0) {
            return Ref();
        }
    }
    return dict;
}

// The function object of the method table's `m`th method.
Ref make_function(ModuleState& st, std::size_t m) {
    const HandlerMethod& method = handler_method(m);
    Ref annotations = annotations_dict(method);
    if (!annotations) return annotations;
    Ref function = create_function(&handler_method_definitions[m], 0, str(method.qualname),
                                   nullptr, str(s_module_name), runtime_state().module_dict.get(),
                                   st.method_code[m].get(), method.fast_entry);
    if (!function) return function;
    reinterpret_cast<BindingFunction*>(function.get())->annotations = annotations.release();
    return function;
}

// The method's value in the class namespace: the function object, or what
// tornado.web.authenticated returns for it.
Ref method_value(ModuleState& st, std::size_t m) {
    if (!handler_method(m).decorated) return make_function(st, m);
    Ref tornado = read_global(s_tornado, st.decorator_places[m]);
    if (!tornado) return tornado;
    Ref web = Ref::steal(PyObject_GetAttr(tornado.get(), str(s_web)));
    if (!web) return web;
    Ref function = make_function(st, m);
    if (!function) return function;
    Ref authenticated = Ref::steal(PyObject_GetAttr(web.get(), str(s_authenticated)));
    if (!authenticated) return authenticated;
    PyObject* args[] = {function.get()};
    return call_fast_dict(authenticated.get(), args, 1, nullptr);
}

int namespace_store(PyObject* ns, PyObject* key, PyObject* value) {
    if (PyDict_CheckExact(ns)) return PyDict_SetItem(ns, key, value);
    return PyObject_SetItem(ns, key, value);
}

// Appends items[begin, end) of a tuple to a list.
int extend_with(PyObject* list, PyObject* tuple, Py_ssize_t begin, Py_ssize_t end) {
    for (Py_ssize_t i = begin; i < end; ++i) {
        if (PyList_Append(list, PyTuple_GET_ITEM(tuple, i)) < 0) return -1;
    }
    return 0;
}

}  // namespace

Ref update_bases(PyObject* bases) {
    Ref substituted;  // started at the first base with __mro_entries__
    const Py_ssize_t count = PyTuple_GET_SIZE(bases);
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* base = PyTuple_GET_ITEM(bases, i);
        Ref entries_of;
        if (!PyType_Check(base)) {
            entries_of = get_attr_quiet(base, str(s_mro_entries));
            if (!entries_of && PyErr_Occurred()) return Ref();
        }
        if (!entries_of) {
            if (substituted && PyList_Append(substituted.get(), base) < 0) return Ref();
            continue;
        }
        PyObject* args[] = {bases};
        Ref entries = call_fast_dict(entries_of.get(), args, 1, nullptr);
        if (!entries) return Ref();
        if (!PyTuple_Check(entries.get())) {
            PyErr_SetString(PyExc_TypeError, "__mro_entries__ must return a tuple");
            return Ref();
        }
        if (!substituted) {
            substituted = Ref::steal(PyList_New(0));
            if (!substituted || extend_with(substituted.get(), bases, 0, i) < 0) return Ref();
        }
        if (extend_with(substituted.get(), entries.get(), 0, PyTuple_GET_SIZE(entries.get())) < 0) {
            return Ref();
        }
    }
    if (!substituted) return Ref::borrow(bases);
    return Ref::steal(PyList_AsTuple(substituted.get()));
}

Ref calculate_metaclass(PyObject* bases) {
    PyTypeObject* winner = nullptr;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(bases); ++i) {
        PyTypeObject* candidate = Py_TYPE(PyTuple_GET_ITEM(bases, i));
        if (winner == nullptr) {
            winner = candidate;
        } else if (is_subtype(winner, candidate)) {
            continue;
        } else if (is_subtype(candidate, winner)) {
            winner = candidate;
        } else {
            PyErr_SetString(PyExc_TypeError,
                            "metaclass conflict: the metaclass of a derived class must be a "
                            "(non-strict) subclass of the metaclasses of all its bases");
            return Ref();
        }
    }
    if (winner == nullptr) winner = &PyType_Type;
    return Ref::borrow(reinterpret_cast<PyObject*>(winner));
}

Ref prepare_namespace(PyObject* metaclass, PyObject* bases, PyObject* name, PyObject* qualname,
                      PyObject* module_name) {
    Ref prepare;
    if (metaclass != nullptr) {
        prepare = get_attr_quiet(metaclass, str(s_prepare));
        if (!prepare && PyErr_Occurred()) return Ref();
    }
    Ref ns;
    if (prepare) {
        PyObject* args[] = {name, bases};
        ns = call_fast_dict(prepare.get(), args, 2, nullptr);
    } else {
        ns = Ref::steal(PyDict_New());
    }
    if (!ns) return ns;
    // Generic stores: __prepare__ may return any mapping.
    if (PyObject_SetItem(ns.get(), str(s_module), module_name) < 0 ||
        PyObject_SetItem(ns.get(), str(s_qualname), qualname) < 0) {
        return Ref();
    }
    return ns;
}

int define_handler_class(ModuleState& st, int* failed_line) {
    constexpr int class_line = module_line("class");
    *failed_line = class_line;
    PyObject* class_name = str(s_ZRVZorvikWorkspaceHandler);
    Ref api_handler = read_global(s_APIHandler, st.base_place);
    if (!api_handler) return -1;
    Ref declared = Ref::steal(PyTuple_Pack(1, api_handler.get()));
    if (!declared) return -1;
    Ref bases = update_bases(declared.get());
    if (!bases) return -1;
    Ref metaclass = calculate_metaclass(bases.get());
    if (!metaclass) return -1;
    Ref ns =
        prepare_namespace(metaclass.get(), bases.get(), class_name, class_name, str(s_module_name));
    if (!ns) return -1;
    if (bases.get() != declared.get()) {
        // A checked store, whatever kind of mapping the namespace is.
        Ref key = Ref::steal(PyUnicode_InternFromString("__orig_bases__"));
        if (!key || PyObject_SetItem(ns.get(), key.get(), declared.get()) < 0) return -1;
    }
    declared.reset();

    for (std::size_t m = 0; m < handler_method_count; ++m) {
        const HandlerMethod& method = handler_method(m);
        *failed_line = method.signature.def_line;
        Ref value = method_value(st, m);
        if (!value || namespace_store(ns.get(), str(method.name), value.get()) < 0) return -1;
    }

    *failed_line = class_line;
    PyObject* args[] = {class_name, bases.get(), ns.get()};
    Ref cls = call_fast_dict(metaclass.get(), args, 3, nullptr);
    if (!cls) return -1;
    return PyDict_SetItem(runtime_state().module_dict.get(), class_name, cls.get());
}

}  // namespace wsh
