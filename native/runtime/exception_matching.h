// Matching the raised exception against `except` clauses.
#pragma once

#include <Python.h>

namespace wsh {

// A type test that also works for a type not readied yet (no MRO).
bool is_subtype(PyTypeObject* type, PyTypeObject* base);

// Whether exception type `exception_type` is caught by `clause` (a class, a
// tuple of classes, or anything else, which never matches). Never raises.
bool given_exception_matches(PyObject* exception_type, PyObject* clause);
bool exception_matches_tuple(PyObject* exception_type, PyObject* tuple);
// The same for the thread's raised exception; false when none is raised.
// Evaluate the clause before calling this, with the raised exception taken
// out of the thread: evaluating it may run Python code.
bool exception_matches(PyThreadState* thread, PyObject* clause);
inline bool exception_matches(PyObject* clause) {
    return exception_matches(PyThreadState_Get(), clause);
}

}  // namespace wsh
