// The module body's import statements: absolute imports with the
// interpreter's own semantics and short cuts through sys.modules.
#pragma once

#include <Python.h>

namespace wsh {

// The module `name` (for a dotted plain import, its top-level package), a
// new reference or null. `from_list` is null for a plain `import`, else the
// `count` names of a `from ... import`.
PyObject* import_module(PyObject* name, PyObject* const* from_list, Py_ssize_t count,
                        PyObject* globals);

// The value bound to `name` in `module`, falling back to a submodule entry in
// sys.modules; null with ImportError "cannot import name ..." otherwise.
PyObject* import_from(PyObject* module, PyObject* name);

}  // namespace wsh
