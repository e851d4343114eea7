#include "runtime/traceback.h"

#include <Python.h>
#include <frameobject.h>

#include <utility>

#include "runtime/compat.h"
#include "runtime/exception_state.h"
#include "runtime/runtime_state.h"
#include "runtime/traceback_cache.h"

namespace wsh {

void add_traceback(const char* function_name, int line, const char* file_name) {
    RuntimeState& st = runtime_state();
    if (!st.module_dict) return;
    PyThreadState* thread = PyThreadState_Get();
    if (raised_exception_type(thread) == nullptr) {
        // A callee returned null without an exception: report that instead of
        // attaching a traceback to nothing.
        PyErr_SetString(PyExc_SystemError, "error return without exception set");
    }
    TracebackCodeCache& cache = st.traceback_code_cache;
    Ref code = cached_code(cache, line);
    if (!code) {
        // Nothing may be raised while the code object is made.
        RaisedException taken = take_raised(thread);
        code = Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(file_name, function_name, line)));
        if (!code) return;  // the creation's error stands; the taken one is released
        restore_error(thread, std::move(taken));
        if (line != 0) cache_code(cache, line, Ref::borrow(code.get()));
    }
    Ref frame = Ref::steal(reinterpret_cast<PyObject*>(
        PyFrame_New(thread, reinterpret_cast<PyCodeObject*>(code.get()),
                    st.module_dict.get(), nullptr)));
    if (!frame) return;
    compat::set_frame_line(reinterpret_cast<PyFrameObject*>(frame.get()), line);
    PyTraceBack_Here(reinterpret_cast<PyFrameObject*>(frame.get()));
}

}  // namespace wsh
