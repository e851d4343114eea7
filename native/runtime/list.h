// Appending to a list that the caller owns alone.
#pragma once

#include <Python.h>

#include "runtime/compat.h"
#include "runtime/ref.h"

namespace wsh {

// Appends a new reference to `item`: into spare capacity directly, through
// the list's append operation only when it is full. 0, or -1.
inline int list_append(PyObject* list, PyObject* item) {
    auto* l = reinterpret_cast<PyListObject*>(list);
    const Py_ssize_t size = PyList_GET_SIZE(list);
    if (l->allocated > size) {
        PyList_SET_ITEM(list, size, new_reference(item));
        compat::set_var_size(list, size + 1);
        return 0;
    }
    return PyList_Append(list, item);
}

}  // namespace wsh
