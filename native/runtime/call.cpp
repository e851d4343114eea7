#include "runtime/call.h"

#include "runtime/compat.h"
#include "runtime/exception_matching.h"
#include "runtime/function.h"
#include "runtime/recursion_guard.h"
#include "runtime/ref.h"
#include "runtime/runtime_state.h"

namespace wsh {

namespace {

PyObject* check_null_result(PyObject* result) {
    if (result == nullptr && !PyErr_Occurred()) {
        PyErr_SetString(PyExc_SystemError, "NULL result without error in PyObject_Call");
    }
    return result;
}

PyTypeObject* function_type() {
    return reinterpret_cast<PyTypeObject*>(runtime_state().function_type.get());
}

// The entry-point convention, with the bits that only qualify it masked off.
int call_convention(PyObject* function) {
    return reinterpret_cast<PyCFunctionObject*>(function)->m_ml->ml_flags & call_convention_mask;
}

// Whether `type` is our function type or derives from it. Types made from
// a PyType_Spec are heap types and so are all their subtypes: a static
// type (a Python function, a bound method) is ruled out without a walk.
bool is_function_object_type(PyTypeObject* type) {
    PyTypeObject* ours = function_type();
    if (ours == nullptr) return false;
    return type == ours || (PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE) && is_subtype(type, ours));
}

enum class DirectCall { no, builtin, ours };

// Whether `callable` may be called through its definition's entry point
// with the given convention: built-in functions, and function objects of our
// type whose instance does not come from the arguments (a method of a native
// class from another module sharing the type would otherwise receive the
// function object as its instance).
DirectCall direct_call(PyObject* callable, int convention) {
    PyTypeObject* type = Py_TYPE(callable);
    // Only the built-in function type itself: a subtype from elsewhere may
    // hand its entry point something else first.
    if (type == &PyCFunction_Type) {
        return call_convention(callable) == convention ? DirectCall::builtin : DirectCall::no;
    }
    if (!is_function_object_type(type)) return DirectCall::no;
    return call_convention(callable) == convention &&
                   !takes_instance_from_arguments(reinterpret_cast<BindingFunction*>(callable)->flags)
               ? DirectCall::ours
               : DirectCall::no;
}

// The entry point of a METH_O or METH_NOARGS definition, called with what
// its own fast-call entry would pass first: our type always passes m_self, a
// built-in passes null for a static definition.
PyObject* call_entry_point(PyObject* function, PyObject* arg, bool ours) {
    auto* record = reinterpret_cast<PyCFunctionObject*>(function);
    const bool static_def = (record->m_ml->ml_flags & METH_STATIC) != 0;
    PyObject* first = static_def && !ours ? nullptr : record->m_self;
    return check_null_result(call_guarded([&] { return record->m_ml->ml_meth(first, arg); }));
}

// Every case of call_fast_dict; the common one is decided before.
[[gnu::noinline]] Ref call_fast_dict_general(PyObject* callable, PyObject* const* values,
                                             std::size_t nargsf, PyObject* kwargs) {
    const Py_ssize_t nargs = positional_count(nargsf);
    if (nargs == 0 && kwargs != nullptr) {
        return call_object(callable, runtime_state().empty_tuple.get(), kwargs);
    }
    if (kwargs == nullptr) {
        if (nargs <= 1) {
            const DirectCall direct = direct_call(callable, nargs == 0 ? METH_NOARGS : METH_O);
            if (direct != DirectCall::no) {
                return Ref::steal(call_entry_point(callable, nargs == 0 ? nullptr : values[0],
                                                   direct == DirectCall::ours));
            }
        }
        if (vectorcallfunc entry = compat::vectorcall_function(callable)) {
            return Ref::steal(entry(callable, values, nargsf, nullptr));
        }
        if (nargs == 0) return call_object(callable, runtime_state().empty_tuple.get(), nullptr);
    }
    Ref args = Ref::steal(PyTuple_New(nargs));
    if (!args) return args;
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        PyTuple_SET_ITEM(args.get(), i, new_reference(values[i]));
    }
    return call_object(callable, args.get(), kwargs);
}

}  // namespace

Ref call_object(PyObject* callable, PyObject* args, PyObject* kwargs) {
    ternaryfunc call = Py_TYPE(callable)->tp_call;
    if (call == nullptr) return Ref::steal(PyObject_Call(callable, args, kwargs));
    return Ref::steal(
        check_null_result(call_guarded([&] { return call(callable, args, kwargs); })));
}

Ref call_fast_dict(PyObject* callable, PyObject* const* values, std::size_t nargsf,
                   PyObject* kwargs) {
    // The common callee, a Python function or a bound method: a static type
    // that is not the built-in function type can take no direct call, so its
    // fast-call entry is what the general order below would choose too.
    PyTypeObject* type = Py_TYPE(callable);
    if (kwargs == nullptr && type != &PyCFunction_Type &&
        !PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE)) {
        if (vectorcallfunc entry = compat::vectorcall_function(callable)) {
            return Ref::steal(entry(callable, values, nargsf, nullptr));
        }
    }
    return call_fast_dict_general(callable, values, nargsf, kwargs);
}

Ref call_method_keywords(PyObject* name, PyObject* const* values, PyObject* keyword_names) {
    return Ref::steal(
        compat::call_method(name, values, 1 | compat::vectorcall_offset_flag, keyword_names));
}

Ref call_method_by_name(PyObject* name, PyObject* const* values, std::size_t nargs) {
    return Ref::steal(
        compat::call_method(name, values, nargs | compat::vectorcall_offset_flag, nullptr));
}

Ref call_method_uncached(PyObject* name, PyObject* const* values, std::size_t nargs,
                         MethodLookupCache& cache) {
    cache = {};
    PyTypeObject* type = Py_TYPE(values[0]);
    // The generic attribute read of an object without a __dict__ finds a
    // method descriptor (a function) on the type and nowhere else; calling
    // it with the object first is the method call.
    if (type->tp_getattro == PyObject_GenericGetAttr && !compat::has_instance_dict(type)) {
        PyObject* found = _PyType_Lookup(type, name);  // gives the type its tag
        const unsigned int version = compat::type_version(type);
        if (found != nullptr && version != 0 &&
            PyType_HasFeature(Py_TYPE(found), Py_TPFLAGS_METHOD_DESCRIPTOR)) {
            cache = {type, version, found};
            const Ref function = Ref::borrow(found);
            return call_fast_dict(function.get(), values, nargs, nullptr);
        }
    }
    return call_method_by_name(name, values, nargs);
}

}  // namespace wsh
