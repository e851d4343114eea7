// Matching the pending exception against `except` clauses and moving
// exceptions between the thread's pending and handled slots.
#pragma once

#include <Python.h>

#include "runtime/errors.h"

namespace wsh {

// Type tests that also work for a type not readied yet (no MRO).
bool is_subtype(PyTypeObject* type, PyTypeObject* base);
bool is_either_subtype(PyTypeObject* type, PyTypeObject* base1, PyTypeObject* base2);

// Whether exception type `exception_type` is caught by `clause` (a class, a
// tuple of classes, or anything else, which never matches). Never raises.
bool given_exception_matches(PyObject* exception_type, PyObject* clause);
bool exception_matches_tuple(PyObject* exception_type, PyObject* tuple);
// The same for the thread's pending exception; false when none is pending.
// Evaluate the clause before calling this, with the pending exception taken
// out of the thread: evaluating it may run Python code.
bool exception_matches(PyObject* clause);

// Makes `error` the thread's pending exception, releasing the previous one.
void restore_error(PyThreadState* thread, RaisedException&& error);

// Makes `handled` the handled exception of the running frame's slot,
// releasing the previous one: puts back what save_handled_exception saved
// when an `except` block ends.
void reset_handled_exception(PyThreadState* thread, RaisedException&& handled);

// Entering an `except` block: moves the pending exception (normalised, its
// traceback attached) into the handled slot and gives `out` new references
// to it. 0, or -1 with an exception set, `out` empty and the handled slot
// unchanged.
int take_exception(PyThreadState* thread, RaisedException& out);

// After an iterator's next step returned null: 0 when it is exhausted
// (nothing pending, or a StopIteration that is cleared here), -1 otherwise.
int finish_iteration();

}  // namespace wsh
