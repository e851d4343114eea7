// The thread's exception slots: the current (raised) exception and the
// handled one, moved in and out as owned triples.
#pragma once

#include <Python.h>

#include "runtime/compat.h"
#include "runtime/ref.h"

namespace wsh {

struct RaisedException {
    Ref type;
    Ref value;
    Ref traceback;
};

// Installs `exception` as the thread's pending exception and hands back in
// it what was pending. The slot holds the new triple before the caller
// releases the old one, so code run by a release never sees a half-moved
// slot.
inline void swap_current_exception(PyThreadState* thread, RaisedException& exception) noexcept {
    compat::swap_current_exception(thread, exception.type, exception.value, exception.traceback);
}

// The same for the handled exception (the one sys.exc_info() reports) of
// the running frame's slot. The triple type doubles as the handled one.
inline void swap_handled_exception(PyThreadState* thread, RaisedException& exception) noexcept {
    compat::swap_handled_exception(thread, exception.type, exception.value, exception.traceback);
}

// Takes the current exception out of the thread state, leaving none pending.
inline RaisedException take_raised() noexcept {
    RaisedException taken;
    swap_current_exception(PyThreadState_Get(), taken);
    return taken;
}

// Makes `exception` the current exception; whatever was pending comes back
// into the parameter and is released with it.
inline void restore_raised(RaisedException exception) noexcept {
    swap_current_exception(PyThreadState_Get(), exception);
}

// New references to the handled exception of the running frame's slot, to
// be put back into that same slot with reset_handled_exception.
[[nodiscard]] inline RaisedException save_handled_exception(PyThreadState* thread) noexcept {
    PyObject* type;
    PyObject* value;
    PyObject* traceback;
    compat::peek_handled_exception(thread, type, value, traceback);
    return {Ref::borrow(type), Ref::borrow(value), Ref::borrow(traceback)};
}

// Makes `error` the thread's pending exception, releasing the previous one.
void restore_error(PyThreadState* thread, RaisedException error);

// Makes `handled` the handled exception of the running frame's slot,
// releasing the previous one: puts back what save_handled_exception saved
// when an `except` block ends.
void reset_handled_exception(PyThreadState* thread, RaisedException handled);

// Entering an `except` block: moves the pending exception (normalised, its
// traceback attached) into the handled slot and gives `out` new references
// to it. 0, or -1 with an exception set, `out` empty and the handled slot
// unchanged.
int take_exception(PyThreadState* thread, RaisedException& out);

// After an iterator's next step returned null: 0 when it is exhausted
// (nothing pending, or a StopIteration that is cleared here), -1 otherwise.
int finish_iteration();

}  // namespace wsh
