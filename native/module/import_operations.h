// The module body's import statements: absolute imports with the
// interpreter's own semantics and short cuts through sys.modules.
#pragma once

#include <Python.h>

#include "runtime/ref.h"

namespace wsh {

// The module `name` (for a dotted plain import, its top-level package), or
// an empty handle with an exception set. `from_list` is null for a plain `import`, else the
// `count` names of a `from ... import`.
Ref import_module(PyObject* name, PyObject* const* from_list, Py_ssize_t count,
                  PyObject* globals);

// The value bound to `name` in `module`, falling back to a submodule entry in
// sys.modules; empty with ImportError "cannot import name ..." otherwise.
Ref import_from(PyObject* module, PyObject* name);

}  // namespace wsh
