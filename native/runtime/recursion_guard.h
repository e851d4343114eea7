// The interpreter's recursion guard around a call into native code, as its
// own C functions keep it: a recursion that runs through native code ends in
// RecursionError instead of overflowing the C stack.
#pragma once

#include <Python.h>

namespace wsh {

inline constexpr const char recursion_text[] = " while calling a Python object";

// Runs `call` (returning a new reference or null) one level deeper.
template <typename Call>
inline PyObject* call_guarded(Call&& call) {
    if (Py_EnterRecursiveCall(recursion_text)) return nullptr;
    PyObject* result = call();
    Py_LeaveRecursiveCall();
    return result;
}

}  // namespace wsh
