#include "runtime/exception_matching.h"

#include "runtime/compat.h"
#include "runtime/exception_state.h"

namespace wsh {

namespace {

bool is_exception_class(PyObject* obj) { return PyExceptionClass_Check(obj); }

PyTypeObject* as_type(PyObject* obj) { return reinterpret_cast<PyTypeObject*>(obj); }

bool in_tuple_by_identity(PyObject* tuple, PyObject* item) {
    const Py_ssize_t n = PyTuple_GET_SIZE(tuple);
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (PyTuple_GET_ITEM(tuple, i) == item) return true;
    }
    return false;
}

// `exception_type` (an exception class) against the exception classes
// among the items of `tuple`; other items are not looked at.
bool subtype_of_class_item(PyObject* exception_type, PyObject* tuple) {
    const Py_ssize_t n = PyTuple_GET_SIZE(tuple);
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PyTuple_GET_ITEM(tuple, i);
        if (!is_exception_class(item)) continue;
        if (item == exception_type || is_subtype(as_type(exception_type), as_type(item))) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool is_subtype(PyTypeObject* type, PyTypeObject* base) {
    // The interpreter's own test is this one: the MRO when the type has
    // one, else the chain of bases.
    return type == base || PyType_IsSubtype(type, base) != 0;
}

bool given_exception_matches(PyObject* exception_type, PyObject* clause) {
    if (exception_type == clause) return true;
    if (is_exception_class(exception_type)) {
        if (is_exception_class(clause)) return is_subtype(as_type(exception_type), as_type(clause));
        if (PyTuple_Check(clause)) {
            return in_tuple_by_identity(clause, exception_type) ||
                   subtype_of_class_item(exception_type, clause);
        }
    }
    return PyErr_GivenExceptionMatches(exception_type, clause) != 0;
}

bool exception_matches_tuple(PyObject* exception_type, PyObject* tuple) {
    if (in_tuple_by_identity(tuple, exception_type)) return true;
    const bool class_given = is_exception_class(exception_type);
    const Py_ssize_t n = PyTuple_GET_SIZE(tuple);
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PyTuple_GET_ITEM(tuple, i);
        if (item == exception_type) return true;
        bool match;
        if (!class_given) {
            match = PyErr_GivenExceptionMatches(exception_type, item) != 0;
        } else if (is_exception_class(item)) {
            match = is_subtype(as_type(exception_type), as_type(item));
        } else if (PyTuple_Check(item)) {
            match = in_tuple_by_identity(item, exception_type) ||
                    subtype_of_class_item(exception_type, item);
        } else {
            match = PyErr_GivenExceptionMatches(exception_type, item) != 0;
        }
        if (match) return true;
    }
    return false;
}

namespace {

// A tuple clause, or one that is no exception class: apart, so that the
// common clause is decided without a frame.
[[gnu::noinline]] bool matches_by_general_rules(PyObject* exception_type, PyObject* clause) {
    if (PyTuple_Check(clause)) return exception_matches_tuple(exception_type, clause);
    return given_exception_matches(exception_type, clause);
}

}  // namespace

bool exception_matches(PyThreadState* thread, PyObject* clause) {
    const Borrowed type = raised_exception_type(thread);
    if (type == clause) return true;
    if (type == nullptr) return false;
    // The common clause, one exception class, decided here; a tuple or
    // anything else takes the general rules.
    if (is_exception_class(clause) && is_exception_class(type)) {
        return is_subtype(as_type(type), as_type(clause));
    }
    return matches_by_general_rules(type, clause);
}

}  // namespace wsh
