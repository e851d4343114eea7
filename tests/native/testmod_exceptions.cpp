// Exception matching and moving exceptions between the thread's slots.
#include "runtime/call.h"
#include "runtime/exception_matching.h"
#include "runtime/exception_state.h"
#include "tests/native/testmod.h"

namespace wsh::testmod {

namespace {

PyObject* as_bool(bool value) { return new_reference(value ? Py_True : Py_False); }

// Raises the triple as it is, as the interpreter keeps it: until 3.11
// unnormalised in the thread's three slots, from 3.12 as the one instance
// raising makes of it (and a SystemError for anything but a class).
void raise_triple(PyObject* type, PyObject* value, PyObject* traceback) {
#if WSH_PY312
    if (!PyExceptionClass_Check(type)) {
        PyErr_Format(PyExc_SystemError, "exception %R is not a BaseException subclass", type);
        return;
    }
    PyErr_Restore(new_reference(type), new_reference(value), new_reference(traceback));
#else
    restore_error(PyThreadState_Get(),
                  {Ref::borrow(type), Ref::borrow(value), Ref::borrow(traceback)});
#endif
}

PyTypeObject* type_arg(PyObject* obj) {
    if (PyType_Check(obj)) return reinterpret_cast<PyTypeObject*>(obj);
    PyErr_SetString(PyExc_TypeError, "expected a type");
    return nullptr;
}

// exception_matches(pending_type, clause): `pending_type` (None for nothing
// pending) is installed as the pending exception as it is, unnormalised.
PyObject* t_exception_matches(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2) {
        PyErr_SetString(PyExc_TypeError, "exception_matches(pending_type, clause)");
        return nullptr;
    }
    if (args[0] != Py_None) raise_triple(args[0], nullptr, nullptr);
    const bool match = exception_matches(args[1]);
    PyErr_Clear();
    return as_bool(match);
}

PyObject* t_given_exception_matches(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2) {
        PyErr_SetString(PyExc_TypeError, "given_exception_matches(type, clause)");
        return nullptr;
    }
    return as_bool(given_exception_matches(args[0], args[1]));
}

PyObject* t_exception_matches_tuple(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2 || !PyTuple_Check(args[1])) {
        PyErr_SetString(PyExc_TypeError, "exception_matches_tuple(type, tuple)");
        return nullptr;
    }
    return as_bool(exception_matches_tuple(args[0], args[1]));
}

// is_subtype(A, B)
PyObject* t_is_subtype(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2) {
        PyErr_SetString(PyExc_TypeError, "is_subtype(A, B)");
        return nullptr;
    }
    PyTypeObject* types[2] = {};
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        if ((types[i] = type_arg(args[i])) == nullptr) return nullptr;
    }
    return as_bool(is_subtype(types[0], types[1]));
}

// The same test with the MRO of A hidden, as for a type not readied yet.
PyObject* t_is_subtype_unready(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2 || type_arg(args[0]) == nullptr) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "is_subtype_unready(A, B)");
        return nullptr;
    }
    auto* type = reinterpret_cast<PyTypeObject*>(args[0]);
    PyObject* mro = std::exchange(type->tp_mro, nullptr);
    PyObject* result = t_is_subtype(module, args, nargs);
    type->tp_mro = mro;
    return result;
}

// except_block(type, value, fn[, traceback]): raises the triple as it is
// (unnormalised), enters an `except` block for it, calls fn() inside and
// leaves the block. Returns (caught type, caught value, fn's result).
PyObject* t_except_block(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 3 && nargs != 4) {
        PyErr_SetString(PyExc_TypeError, "except_block(type, value, fn[, traceback])");
        return nullptr;
    }
    PyThreadState* thread = PyThreadState_Get();
    HandledException saved = save_handled_exception(thread);
    raise_triple(args[0], args[1], nargs == 4 ? args[3] : nullptr);
    HandledException caught;
    if (take_exception(thread, caught) < 0) return nullptr;
    Ref inside = call_fast_dict(args[2], nullptr, 0, nullptr);
    reset_handled_exception(thread, std::move(saved));
    if (!inside) return nullptr;
    PyObject* value = caught.value.get();
    return PyTuple_Pack(3, reinterpret_cast<PyObject*>(Py_TYPE(value)), value, inside.get());
}

}  // namespace

PyMethodDef exceptions_methods[] = {
    {"exception_matches", stored_entry_point(t_exception_matches), METH_FASTCALL, nullptr},
    {"given_exception_matches", stored_entry_point(t_given_exception_matches), METH_FASTCALL, nullptr},
    {"exception_matches_tuple", stored_entry_point(t_exception_matches_tuple), METH_FASTCALL, nullptr},
    {"is_subtype", stored_entry_point(t_is_subtype), METH_FASTCALL, nullptr},
    {"is_subtype_unready", stored_entry_point(t_is_subtype_unready), METH_FASTCALL, nullptr},
    {"except_block", stored_entry_point(t_except_block), METH_FASTCALL, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace wsh::testmod
