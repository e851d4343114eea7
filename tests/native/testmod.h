// The test-only extension module: exposes internals that Python cannot reach
// through the shipped module. Built from the same sources, never installed.
#pragma once

#include <Python.h>

namespace wsh::testmod {

// One method table per concern; each ends with a null entry.
extern PyMethodDef frame_methods[];
extern PyMethodDef registry_methods[];
extern PyMethodDef function_methods[];

}  // namespace wsh::testmod
