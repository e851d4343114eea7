// The result answer with which `get` and `post` answer every outcome they
// handle: its status, its body and the one call of the result writer.
#pragma once

#include <Python.h>

#include "runtime/ref.h"
#include "runtime/runtime_state.h"

namespace wsh {

// The result answer: self._finish_with_result(status_code=..., result=...),
// its return value dropped. 0, or -1 with an exception set.
int make_result_answer(PyObject* self, PyObject* status_code, PyObject* result);

// A new dictionary with the one entry key -> value: the answer's body.
Ref one_key_dict(StringId key, PyObject* value);

}  // namespace wsh
