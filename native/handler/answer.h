// Pieces shared by the request methods' answers.
#pragma once

#include <Python.h>

#include "handler/reading_places.h"
#include "runtime/ref.h"
#include "runtime/runtime_state.h"

namespace wsh {

// The result answer: self._finish_with_result(status_code=..., result=...),
// its return value dropped. 0, or -1 with an exception set.
int make_result_answer(PyObject* self, PyObject* status_code, PyObject* result);

// The member `member` of the module global HTTPStatus, read at `site`.
Ref http_status(StringId member, HandlerSite site);

// A new dictionary with the one entry key -> value.
Ref one_key_dict(StringId key, PyObject* value);

// str(value): an exact str is used as it is.
Ref text_of(PyObject* value);

}  // namespace wsh
