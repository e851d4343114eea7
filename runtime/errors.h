// The thread's current (raised) exception, moved in and out as one owned value.
#pragma once

#include <Python.h>

#include "runtime/ref.h"

namespace wsh {

struct RaisedException {
    Ref type;
    Ref value;
    Ref traceback;
};

// Takes the current exception out of the thread state, leaving none pending.
inline RaisedException take_raised() noexcept {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    return {Ref::steal(type), Ref::steal(value), Ref::steal(traceback)};
}

// Makes `e` the current exception, releasing whatever was pending.
inline void restore_raised(RaisedException&& e) noexcept {
    PyErr_Restore(e.type.release(), e.value.release(), e.traceback.release());
}

}  // namespace wsh
