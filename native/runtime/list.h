// Filling a list that the caller owns alone.
#pragma once

#include <Python.h>

#include "runtime/compat.h"
#include "runtime/ref.h"

namespace wsh {

// A new empty list with room for `room` items, which list_append then fills
// without growing it; an empty handle with an exception set on failure.
inline Ref list_with_room(Py_ssize_t room) {
    Ref list = Ref::steal(PyList_New(room));
    if (list) compat::set_var_size(list.get(), 0);  // the slots stay allocated, and empty
    return list;
}

// Appends `item`, whose reference the list takes over: into spare capacity
// directly, through the list's append operation only when it is full. 0,
// or -1 with an exception set.
inline int list_append(PyObject* list, Ref item) {
    auto* l = reinterpret_cast<PyListObject*>(list);
    const Py_ssize_t size = PyList_GET_SIZE(list);
    if (l->allocated > size) {
        PyList_SET_ITEM(list, size, item.release());
        compat::set_var_size(list, size + 1);
        return 0;
    }
    return PyList_Append(list, item.get());
}

}  // namespace wsh
