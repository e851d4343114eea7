#include "runtime/exception_state.h"

#include "runtime/exception_matching.h"

namespace wsh {

int take_exception(PyThreadState* thread, HandledException& out) {
    out = {};
    HandledException caught = handled_from(take_raised(thread));
    if (!caught.value) return -1;
    out = share_handled(caught);
    reset_handled_exception(thread, std::move(caught));
    return 0;
}

int finish_iteration() {
    const Borrowed type = raised_exception_type(PyThreadState_Get());
    if (type == nullptr) return 0;
    if (!given_exception_matches(type, PyExc_StopIteration)) return -1;
    PyErr_Clear();
    return 0;
}

}  // namespace wsh
