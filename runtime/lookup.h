// Attribute reads, builtins and the cached read of module globals.
#pragma once

#include <Python.h>

#include "module/state.h"

namespace wsh {

// A new reference to the attribute, or null: without an exception when the
// attribute is missing (AttributeError), with one for any other failure.
PyObject* get_attr_quiet(PyObject* obj, PyObject* name);

// A new reference to the builtin `name`, or null with NameError.
PyObject* get_builtin(PyObject* name);

// The module global `name` (a constant-table str), else the builtin of that
// name, else NameError; a new reference or null. `cache` is the reading
// place's own pair: while the module dictionary's version is unchanged a
// read costs one comparison and no dictionary look-up.
PyObject* get_module_global(PyObject* name, GlobalLookupCache& cache);

}  // namespace wsh
