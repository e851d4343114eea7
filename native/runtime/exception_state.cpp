#include "runtime/exception_state.h"

#include "runtime/exception_matching.h"

namespace wsh {

// Both take the triple by value: the previous one comes back into the
// parameter and is released with it.
void restore_error(PyThreadState* thread, RaisedException error) {
    swap_current_exception(thread, error);
}

void reset_handled_exception(PyThreadState* thread, RaisedException handled) {
    swap_handled_exception(thread, handled);
}

int take_exception(PyThreadState* thread, RaisedException& out) {
    out = {};
    RaisedException taken;
    swap_current_exception(thread, taken);
    compat::normalize_exception(taken.type, taken.value, taken.traceback);
    // A failed normalisation puts its own error into the triple; should
    // anything still be pending, that error wins and `taken` goes.
    if (compat::current_exception_type(thread) != nullptr) return -1;
    if (taken.traceback &&
        PyException_SetTraceback(taken.value.get(), taken.traceback.get()) < 0) {
        return -1;
    }
    out = {Ref::borrow(taken.type.get()), Ref::borrow(taken.value.get()),
           Ref::borrow(taken.traceback.get())};
    reset_handled_exception(thread, std::move(taken));
    return 0;
}

int finish_iteration() {
    PyObject* type = compat::current_exception_type(PyThreadState_Get());
    if (type == nullptr) return 0;
    if (!given_exception_matches(type, PyExc_StopIteration)) return -1;
    PyErr_Clear();
    return 0;
}

}  // namespace wsh
