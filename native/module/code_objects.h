// The code objects that the handler's methods carry as __code__.
#pragma once

#include <Python.h>

#include <span>

#include "module/state.h"
#include "runtime/ref.h"

namespace wsh {

// What a method's code object says of it, besides its names.
struct CodeShape {
    int argcount;
    int posonly_argcount;
    int kwonly_argcount;
    int flags;
    int first_line;
};

// A new code object of `shape` with the local names `locals`; an equal
// local-names tuple already in `dedup` is reused.
Ref make_code_object(const CodeShape& shape, std::span<PyObject* const> locals,
                     PyObject* file_name, PyObject* name, PyObject* dedup);

// Makes the handler methods' code objects into `st`: 0, or -1 with an exception.
int make_code_objects(ModuleState& st);

}  // namespace wsh
