// The thread's exception slots: the raised exception and the handled one.
//
// The raised exception (what PyErr_Occurred() sees) and the handled one
// (what sys.exc_info() shows) are moved in and out of the thread state as
// owned records in the layout the interpreter keeps them: a (type, value, traceback) triple until 3.11 for
// the raised one and until 3.10 for the handled one, the exception value
// alone (its type and traceback in it) after.
#pragma once

#include <Python.h>

#include <utility>

#include "runtime/compat.h"
#include "runtime/ref.h"

namespace wsh {

namespace detail {

// Moves `incoming` into a raw slot and the slot's previous (owned) contents
// into `incoming`: the slot holds its new value before the old one can be
// released.
inline void swap_slot(PyObject*& slot, Ref& incoming) {
    PyObject* previous = std::exchange(slot, incoming.release());
    incoming = Ref::steal(previous);
}

}  // namespace detail

#if WSH_PY312
struct RaisedException {
    Ref value;
};

inline Borrowed raised_exception_type(PyThreadState* thread) {
    PyObject* raised = thread->current_exception;
    return Borrowed(raised != nullptr ? reinterpret_cast<PyObject*>(Py_TYPE(raised)) : nullptr);
}

inline void swap_raised_exception(PyThreadState* thread, RaisedException& exception) {
    detail::swap_slot(thread->current_exception, exception.value);
}
#else
struct RaisedException {
    Ref type;
    Ref value;
    Ref traceback;
};

inline Borrowed raised_exception_type(PyThreadState* thread) {
    return Borrowed(thread->curexc_type);
}

inline void swap_raised_exception(PyThreadState* thread, RaisedException& exception) {
    detail::swap_slot(thread->curexc_type, exception.type);
    detail::swap_slot(thread->curexc_value, exception.value);
    detail::swap_slot(thread->curexc_traceback, exception.traceback);
}
#endif

// The handled exception of the running frame's own slot (not the topmost
// non-empty one sys.exc_info() would report): generators and coroutines
// keep their own slot on top of the caller's. The interpreter's own get and
// set functions read the topmost slot but write the current one, so the
// slot is used directly on every version. An empty slot holds null (or, from
// 3.11, None); the record keeps whichever it finds.
#if WSH_PY311
struct HandledException {
    Ref value;
};

inline void swap_handled_exception(PyThreadState* thread, HandledException& exception) {
    detail::swap_slot(thread->exc_info->exc_value, exception.value);
}

// New references to what `exception` holds.
inline HandledException share_handled(const HandledException& exception) {
    return {Ref::borrow(exception.value.get())};
}

inline HandledException peek_handled_exception(PyThreadState* thread) {
    return {Ref::borrow(thread->exc_info->exc_value)};
}
#else
struct HandledException {
    Ref type;
    Ref value;
    Ref traceback;
};

inline void swap_handled_exception(PyThreadState* thread, HandledException& exception) {
    _PyErr_StackItem* slot = thread->exc_info;
    detail::swap_slot(slot->exc_type, exception.type);
    detail::swap_slot(slot->exc_value, exception.value);
    detail::swap_slot(slot->exc_traceback, exception.traceback);
}

inline HandledException share_handled(const HandledException& exception) {
    return {Ref::borrow(exception.type.get()), Ref::borrow(exception.value.get()),
            Ref::borrow(exception.traceback.get())};
}

inline HandledException peek_handled_exception(PyThreadState* thread) {
    const _PyErr_StackItem* slot = thread->exc_info;
    return {Ref::borrow(slot->exc_type), Ref::borrow(slot->exc_value),
            Ref::borrow(slot->exc_traceback)};
}
#endif

// The raised exception as the handled one: normalised (the value an
// instance of the type) with its traceback attached, or an empty record
// with the error of that step raised. From 3.12 the raised exception is
// such an instance already.
#if WSH_PY312
inline HandledException handled_from(RaisedException raised) { return {std::move(raised.value)}; }
#else
inline HandledException handled_from(RaisedException raised) {
    PyObject* type = raised.type.release();
    PyObject* value = raised.value.release();
    PyObject* traceback = raised.traceback.release();
    PyErr_NormalizeException(&type, &value, &traceback);
    RaisedException normalised{Ref::steal(type), Ref::steal(value), Ref::steal(traceback)};
    if (PyErr_Occurred()) return {};
    if (normalised.traceback &&
        PyException_SetTraceback(normalised.value.get(), normalised.traceback.get()) < 0) {
        return {};
    }
#if WSH_PY311
    return {std::move(normalised.value)};
#else
    return {std::move(normalised.type), std::move(normalised.value),
            std::move(normalised.traceback)};
#endif
}
#endif

// Takes the raised exception out of the thread state, leaving none raised,
// while code runs that must not see it (a clause's class is evaluated, a
// code object is made); restore_error puts it back.
inline RaisedException take_raised(PyThreadState* thread = PyThreadState_Get()) noexcept {
    RaisedException taken;
    swap_raised_exception(thread, taken);
    return taken;
}

// Makes `raised` the thread's raised exception; whatever was raised comes
// back into the parameter and is released with it.
inline void restore_error(PyThreadState* thread, RaisedException raised) noexcept {
    swap_raised_exception(thread, raised);
}

// New references to the handled exception of the running frame's slot, to
// be put back into that same slot with reset_handled_exception.
[[nodiscard]] inline HandledException save_handled_exception(PyThreadState* thread) noexcept {
    return peek_handled_exception(thread);
}

// Makes `handled` the handled exception of the running frame's slot,
// releasing the previous one: puts back what save_handled_exception saved
// when an `except` block ends.
inline void reset_handled_exception(PyThreadState* thread, HandledException handled) noexcept {
    swap_handled_exception(thread, handled);
}

// Entering an `except` block: moves the raised exception (normalised, its
// traceback attached) into the handled slot and gives `out` new references
// to it. 0, or -1 with an exception set, `out` empty and the handled slot
// unchanged.
int take_exception(PyThreadState* thread, HandledException& out);

// One `except` block. Made as the raised exception reaches the block: the
// handled exception is saved where the interpreter saves it. enter() takes
// the raised exception in as the handled one; leaving the scope of an
// entered block releases it and puts the saved one back, whether the block
// succeeded or failed.
class ExceptBlock {
public:
    explicit ExceptBlock(PyThreadState* thread) noexcept
        : thread_(thread), saved_(save_handled_exception(thread)) {}
    ExceptBlock(const ExceptBlock&) = delete;
    ExceptBlock& operator=(const ExceptBlock&) = delete;
    ~ExceptBlock() {
        if (!entered_) return;
        caught_ = {};
        reset_handled_exception(thread_, std::move(saved_));
    }

    // 0, or -1 with an exception set and the block not entered.
    int enter() noexcept {
        if (take_exception(thread_, caught_) < 0) return -1;
        entered_ = true;
        return 0;
    }

    // The caught exception (the value), while the block is entered.
    Borrowed caught() const noexcept { return Borrowed(caught_.value.get()); }

private:
    PyThreadState* thread_;
    HandledException saved_;
    HandledException caught_;
    bool entered_ = false;
};

// After an iterator's next step returned null: 0 when it is exhausted
// (nothing raised, or a StopIteration that is cleared here), -1 otherwise.
int finish_iteration();

}  // namespace wsh
