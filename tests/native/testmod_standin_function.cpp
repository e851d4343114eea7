// A stand-in type with the function type's record layout. It is installed as
// `function_type` only while one test call runs, so that the choice between
// a function object's direct entry point and its fast-call entry can be
// observed before the real type is there.
#include <cstddef>
#include <iterator>

#include "module/state.h"
#include "runtime/call.h"
#include "runtime/compat.h"
#include "runtime/function.h"
#include "runtime/never_destroyed.h"
#include "tests/native/testmod.h"

namespace wsh::testmod {

namespace {

constinit NeverDestroyed<Ref> standin_type_storage;

// The direct entry point: reports what it was handed.
PyObject* standin_entry(PyObject* first, PyObject* arg) {
    return Py_BuildValue("(sOO)", "direct", first ? first : Py_None, arg ? arg : Py_None);
}

PyMethodDef standin_defs[] = {
    {"standin_o", standin_entry, METH_O, nullptr},
    {"standin_noargs", standin_entry, METH_NOARGS, nullptr},
    {"standin_o_static", standin_entry, METH_O | METH_STATIC, nullptr},
};

// The fast-call entry: reports the values it was handed.
PyObject* standin_vectorcall(PyObject*, PyObject* const* args, std::size_t nargsf, PyObject*) {
    const Py_ssize_t n = static_cast<Py_ssize_t>(nargsf & ~compat::vectorcall_offset_flag);
    Ref values = Ref::steal(PyTuple_New(n));
    if (!values) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) PyTuple_SET_ITEM(values.get(), i, Ref::borrow(args[i]).release());
    return Py_BuildValue("(sO)", "vectorcall", values.get());
}

void standin_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyType_Slot standin_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(standin_dealloc)},
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {0, nullptr},
};

PyType_Spec standin_spec = {"_wsh_testmod.StandinFunction", sizeof(BindingFunction), 0,
                            Py_TPFLAGS_DEFAULT, standin_slots};

PyTypeObject* standin_type() {
    Ref& type = standin_type_storage.get();
    if (!type) {
        Ref made = Ref::steal(PyType_FromSpec(&standin_spec));
        if (!made) return nullptr;
        auto* t = reinterpret_cast<PyTypeObject*>(made.get());
        t->tp_vectorcall_offset = offsetof(PyCFunctionObject, vectorcall);
        t->tp_flags |= compat::tpflags_have_vectorcall;
        type = std::move(made);
    }
    return reinterpret_cast<PyTypeObject*>(type.get());
}

// call_standin(binding_flags, definition, direct, *args) -> (result, function)
// Calls a stand-in function object of `definition` (an index into
// standin_defs) through call_fast_dict, or call_one_arg when `direct`.
PyObject* t_call_standin(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs < 3) {
        PyErr_SetString(PyExc_TypeError, "call_standin(binding_flags, definition, direct, *args)");
        return nullptr;
    }
    const long flags = PyLong_AsLong(args[0]);
    const long definition = PyLong_AsLong(args[1]);
    const int direct = PyObject_IsTrue(args[2]);
    if (PyErr_Occurred() || direct < 0) return nullptr;
    if (definition < 0 || definition >= static_cast<long>(std::size(standin_defs))) {
        PyErr_SetString(PyExc_IndexError, "no such definition");
        return nullptr;
    }
    PyTypeObject* type = standin_type();
    if (type == nullptr) return nullptr;
    Ref function = Ref::steal(PyType_GenericAlloc(type, 0));
    if (!function) return nullptr;
    auto* record = as<BindingFunction>(function);
    record->base.m_ml = &standin_defs[definition];
    record->base.m_self = function.get();
    record->base.vectorcall = standin_vectorcall;
    record->flags = static_cast<int>(flags);

    ModuleState& st = state();
    Ref previous = std::move(st.function_type);
    st.function_type = Ref::borrow(reinterpret_cast<PyObject*>(type));
    PyObject* const* values = args + 3;
    Ref result = Ref::steal(direct ? call_one_arg(function.get(), nargs > 3 ? values[0] : nullptr)
                                   : call_fast_dict(function.get(), values,
                                                    static_cast<std::size_t>(nargs - 3), nullptr));
    st.function_type = std::move(previous);
    if (!result) return nullptr;
    return PyTuple_Pack(2, result.get(), function.get());
}

}  // namespace

PyMethodDef standin_function_methods[] = {
    {"call_standin", method_entry(t_call_standin), METH_FASTCALL, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace wsh::testmod
