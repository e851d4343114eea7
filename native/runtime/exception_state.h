// The thread's exception slots: the current (raised) exception and the
// handled one, moved in and out as owned records (see compat.h for their
// layout on each interpreter version).
#pragma once

#include <Python.h>

#include "runtime/compat.h"
#include "runtime/ref.h"

namespace wsh {

using compat::HandledException;
using compat::RaisedException;

// Takes the current exception out of the thread state, leaving none pending,
// while code runs that must not see it (a clause's class is evaluated, a
// code object is made); restore_error puts it back.
inline RaisedException take_raised(PyThreadState* thread = PyThreadState_Get()) noexcept {
    RaisedException taken;
    compat::swap_current_exception(thread, taken);
    return taken;
}

// Makes `error` the thread's pending exception; whatever was pending comes
// back into the parameter and is released with it.
inline void restore_error(PyThreadState* thread, RaisedException error) noexcept {
    compat::swap_current_exception(thread, error);
}

// New references to the handled exception of the running frame's slot, to
// be put back into that same slot with reset_handled_exception.
[[nodiscard]] inline HandledException save_handled_exception(PyThreadState* thread) noexcept {
    return compat::peek_handled_exception(thread);
}

// Makes `handled` the handled exception of the running frame's slot,
// releasing the previous one: puts back what save_handled_exception saved
// when an `except` block ends.
inline void reset_handled_exception(PyThreadState* thread, HandledException handled) noexcept {
    compat::swap_handled_exception(thread, handled);
}

// Entering an `except` block: moves the pending exception (normalised, its
// traceback attached) into the handled slot and gives `out` new references
// to it. 0, or -1 with an exception set, `out` empty and the handled slot
// unchanged.
int take_exception(PyThreadState* thread, HandledException& out);

// After an iterator's next step returned null: 0 when it is exhausted
// (nothing pending, or a StopIteration that is cleared here), -1 otherwise.
int finish_iteration();

}  // namespace wsh
