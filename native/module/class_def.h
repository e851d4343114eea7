// The class statement of the module body: PEP 560 base substitution,
// metaclass selection, the namespace, the handler's methods and the class.
#pragma once

#include <Python.h>

#include "module/state.h"
#include "runtime/ref.h"

namespace wsh {

// The bases after __mro_entries__ substitution: the declared tuple itself
// (a reference of its own) when nothing changed. Empty with an exception on
// failure.
Ref update_bases(PyObject* bases);

// The most derived metaclass of the bases' types (`type` for no bases).
Ref calculate_metaclass(PyObject* bases);

// The class namespace: metaclass.__prepare__(name, bases) if it has one, else
// a new dict; then __module__ and __qualname__ are stored into it.
Ref prepare_namespace(PyObject* metaclass, PyObject* bases, PyObject* name, PyObject* qualname,
                      PyObject* module_name);

// Builds ZRVZorvikWorkspaceHandler and binds it in st.module_dict: 0, or -1
// with an exception set and `*failed_line` set to the failing source line.
int define_handler_class(ModuleState& st, int* failed_line);

}  // namespace wsh
