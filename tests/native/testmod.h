// The test-only extension module: exposes internals that Python cannot reach
// through the shipped module. Built from the same sources, never installed.
#pragma once

#include <Python.h>

#include "runtime/function.h"

namespace wsh::testmod {

// One method table per concern; each ends with a null entry.
extern PyMethodDef frame_methods[];
extern PyMethodDef registry_methods[];
extern PyMethodDef function_methods[];
extern PyMethodDef calls_methods[];
extern PyMethodDef lookup_methods[];
extern PyMethodDef exceptions_methods[];
extern PyMethodDef unpack_methods[];
extern PyMethodDef text_methods[];
extern PyMethodDef argparse_methods[];

}  // namespace wsh::testmod
