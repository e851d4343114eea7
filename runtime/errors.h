// The thread's current (raised) exception, moved in and out as one owned value.
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

// Takes the current exception out of the thread state, leaving none pending.
inline RaisedException take_raised() noexcept;

// Makes `e` the current exception, releasing whatever was pending.
inline void restore_raised(RaisedException&& e) noexcept;

// Installs `incoming` as the thread's pending exception and hands back what
// was pending. The slot holds the new triple before the caller releases the
// old one, so code run by a release never sees a half-moved slot.
[[nodiscard]] inline RaisedException swap_current_exception(PyThreadState* thread,
                                                            RaisedException&& incoming) noexcept {
    compat::swap_current_exception(thread, incoming.type, incoming.value, incoming.traceback);
    return std::move(incoming);
}

inline RaisedException take_raised() noexcept {
    return swap_current_exception(PyThreadState_Get(), {});
}

inline void restore_raised(RaisedException&& e) noexcept {
    RaisedException previous = swap_current_exception(PyThreadState_Get(), std::move(e));
}

// The same for the handled exception (the one sys.exc_info() reports) of
// the running frame's slot. The triple type doubles as the handled one.
[[nodiscard]] inline RaisedException swap_handled_exception(PyThreadState* thread,
                                                            RaisedException&& incoming) noexcept {
    compat::swap_handled_exception(thread, incoming.type, incoming.value, incoming.traceback);
    return std::move(incoming);
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

}  // namespace wsh
