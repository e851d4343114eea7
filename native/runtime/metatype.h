// The shared metaclass of the runtime's own types (registered through
// registry.h): such types cannot be called, derived from or changed from
// Python, and report the registry as their module.
#pragma once

#include <Python.h>

namespace wsh {

extern PyType_Spec common_metatype_spec;

// Raises the TypeError with which the runtime's types refuse to make
// instances (or, for the metaclass, new types).
void raise_cannot_instantiate();

}  // namespace wsh
