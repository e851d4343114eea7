// Calling a function object: the fast-call entries chosen at creation by the
// definition's call convention, and the call slot for an argument tuple and a
// keyword dict. Every entry that runs a method body counts one level of the
// interpreter's recursion depth, as its own built-in functions do: a method
// that ends up calling itself again stops with RecursionError.
#include "runtime/call.h"
#include "runtime/compat.h"
#include "runtime/function_internal.h"
#include "runtime/recursion_guard.h"
#include "runtime/ref.h"
#include "runtime/runtime_state.h"

namespace wsh {

namespace {

const char* definition_name(const BindingFunction* op) { return op->base.m_ml->ml_name; }

// The entry point's first argument: for a method of a native class the
// instance, taken from the front of the positional values; else m_self.
// Whether the instance comes from the values is fixed at creation, so each
// entry is made for one of the two.
template <bool instance_from_arguments>
bool take_first_argument(BindingFunction* op, PyObject* const*& args, Py_ssize_t& nargs,
                         PyObject*& first) {
    if constexpr (!instance_from_arguments) {
        first = op->base.m_self;
        return true;
    }
    if (nargs == 0) {
        PyErr_Format(PyExc_TypeError, "%.200s() %s", definition_name(op), "needs an argument");
        return false;
    }
    first = args[0];
    ++args;
    --nargs;
    return true;
}

bool refuses_keywords(const BindingFunction* op, PyObject* kwnames) {
    if (kwnames == nullptr || PyTuple_GET_SIZE(kwnames) == 0) return false;
    PyErr_Format(PyExc_TypeError, "%.200s() %s", definition_name(op), "takes no keyword arguments");
    return true;
}

// The entries of METH_NOARGS (no argument) and METH_O (exactly one).
template <Py_ssize_t expected, bool instance_from_arguments>
PyObject* fast_entry_counted(PyObject* self, PyObject* const* args, size_t nargsf,
                                      PyObject* kwnames) {
    static_assert(expected == 0 || expected == 1);
    BindingFunction* op = as_function(self);
    Py_ssize_t nargs = positional_count(nargsf);
    PyObject* first = nullptr;
    if (!take_first_argument<instance_from_arguments>(op, args, nargs, first) ||
        refuses_keywords(op, kwnames)) {
        return nullptr;
    }
    if (nargs != expected) {
        PyErr_Format(PyExc_TypeError, "%.200s() %s (%zd given)", definition_name(op),
                     expected == 0 ? "takes no arguments" : "takes exactly one argument", nargs);
        return nullptr;
    }
    PyObject* arg = expected == 0 ? nullptr : args[0];
    return call_guarded([&] { return entry_point_as<PyCFunction>(op->base.m_ml)(first, arg); });
}

// The entries of METH_FASTCALL | METH_KEYWORDS, with METH_METHOD also given
// the defining class.
template <bool with_defining_class, bool instance_from_arguments>
PyObject* fast_entry_with_keywords(PyObject* self, PyObject* const* args,
                                                size_t nargsf, PyObject* kwnames) {
    BindingFunction* op = as_function(self);
    Py_ssize_t nargs = positional_count(nargsf);
    PyObject* first = nullptr;
    if (instance_from_arguments &&
        !take_first_argument<instance_from_arguments>(op, args, nargs, first)) {
        return nullptr;
    }
    return call_guarded([&] {
        // m_self is read once the guard is passed: nothing more to keep
        // across the guard's call.
        if constexpr (!instance_from_arguments) take_first_argument<false>(op, args, nargs, first);
        if constexpr (with_defining_class) {
            return entry_point_as<compat::method_entry>(op->base.m_ml)(
                first, reinterpret_cast<PyTypeObject*>(op->defining_class), args,
                static_cast<size_t>(nargs), kwnames);
        } else {
            return entry_point_as<compat::fastcall_keywords_entry>(op->base.m_ml)(first, args, nargs,
                                                                               kwnames);
        }
    });
}

struct Convention {
    int masked_flags;
    // null: calls go through the call slot
    vectorcallfunc entry;                    // the first argument is m_self
    vectorcallfunc entry_taking_instance;    // the first argument is the instance
};

constexpr Convention conventions[] = {
    {METH_VARARGS | METH_KEYWORDS, nullptr, nullptr},
    {METH_NOARGS, fast_entry_counted<0, false>, fast_entry_counted<0, true>},
    {METH_O, fast_entry_counted<1, false>, fast_entry_counted<1, true>},
    {METH_FASTCALL | METH_KEYWORDS, fast_entry_with_keywords<false, false>,
     fast_entry_with_keywords<false, true>},
    {METH_FASTCALL | METH_KEYWORDS | METH_METHOD, fast_entry_with_keywords<true, false>,
     fast_entry_with_keywords<true, true>},
};

// The positional values (borrowed from the argument tuple) followed by the
// keyword values (owned), in the one block a fast-call entry reads.
class FastCallArray {
public:
    FastCallArray(PyObject* args, Py_ssize_t keyword_count)
        : positional_(PyTuple_GET_SIZE(args)),
          items_(PyMem_New(PyObject*, static_cast<std::size_t>(positional_ + keyword_count))) {
        for (Py_ssize_t i = 0; items_ != nullptr && i < positional_; ++i) {
            items_[i] = PyTuple_GET_ITEM(args, i);
        }
    }
    FastCallArray(const FastCallArray&) = delete;
    FastCallArray& operator=(const FastCallArray&) = delete;
    ~FastCallArray() {
        for (Py_ssize_t i = positional_; i < positional_ + owned_; ++i) reset(items_[i]);
        PyMem_Free(items_);
    }

    explicit operator bool() const { return items_ != nullptr; }
    void append(Ref value) { items_[positional_ + owned_++] = value.release(); }
    PyObject* const* data() const { return items_; }
    Py_ssize_t positional() const { return positional_; }

private:
    Py_ssize_t positional_;
    Py_ssize_t owned_ = 0;
    PyObject** items_;
};

// A call slot call with keywords, turned into a fast call: the keyword names
// go into one tuple, their values after the positional ones.
PyObject* call_with_keyword_dict(PyObject* self, vectorcallfunc entry, PyObject* args,
                                 PyObject* kwargs) {
    const Py_ssize_t keyword_count = PyDict_GET_SIZE(kwargs);
    FastCallArray array(args, keyword_count);
    if (!array) return PyErr_NoMemory();
    Ref names = Ref::steal(PyTuple_New(keyword_count));
    if (!names) return nullptr;
    // Every slot of the names tuple is filled before anything can fail, so
    // neither the tuple nor the callee ever sees an empty one.
    bool all_str = true;
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    for (Py_ssize_t i = 0; i < keyword_count && PyDict_Next(kwargs, &position, &key, &value);
         ++i) {
        all_str = all_str && PyUnicode_Check(key);
        PyTuple_SET_ITEM(names.get(), i, new_reference(key));
        array.append(Ref::borrow(value));
    }
    if (!all_str) {
        PyErr_SetString(PyExc_TypeError, "keywords must be strings");
        return nullptr;
    }
    return entry(self, array.data(), static_cast<size_t>(array.positional()), names.get());
}

}  // namespace

int select_fast_entry(const PyMethodDef* method_def, int flags, vectorcallfunc* entry) {
    const int masked = method_def->ml_flags & call_convention_mask;
    for (const Convention& convention : conventions) {
        if (convention.masked_flags == masked) {
            *entry = takes_instance_from_arguments(flags) ? convention.entry_taking_instance
                                                          : convention.entry;
            return 0;
        }
    }
    PyErr_SetString(PyExc_SystemError, "Bad call flags for CyFunction");
    return -1;
}

PyObject* function_call(PyObject* self, PyObject* args, PyObject* kwargs) {
    BindingFunction* op = as_function(self);
    const PyMethodDef* def = op->base.m_ml;
    if (def == nullptr) {
        PyErr_SetString(PyExc_SystemError, "function object without a method definition");
        return nullptr;
    }
    if (vectorcallfunc entry = op->base.vectorcall; entry != nullptr) {
        if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0) {
            return call_with_keyword_dict(self, entry, args, kwargs);
        }
        return entry(self, &PyTuple_GET_ITEM(args, 0),
                     static_cast<size_t>(PyTuple_GET_SIZE(args)), nullptr);
    }
    // Creation accepts no other convention without a fast-call entry.
    auto meth = entry_point_as<PyCFunctionWithKeywords>(def);
    if (!takes_instance_from_arguments(op->flags)) {
        return call_guarded([&] { return meth(op->base.m_self, args, kwargs); });
    }
    if (PyTuple_GET_SIZE(args) == 0) {
        PyObject* qualname =
            op->qualname != nullptr ? op->qualname : str(runtime_state().unknown_name);
        PyErr_Format(PyExc_TypeError, "unbound method %.200S() needs an argument", qualname);
        return nullptr;
    }
    Ref rest = Ref::steal(PyTuple_GetSlice(args, 1, PyTuple_GET_SIZE(args)));
    if (!rest) return nullptr;
    return call_guarded([&] { return meth(PyTuple_GET_ITEM(args, 0), rest.get(), kwargs); });
}

}  // namespace wsh
