#include "runtime/unpack.h"

#include "runtime/exception_state.h"

namespace wsh {

namespace {

void raise_too_many_values(Py_ssize_t expected) {
    PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", expected);
}

int fail(Ref* targets, Py_ssize_t count) {
    for (Py_ssize_t i = 0; i < count; ++i) targets[i].reset();
    return -1;
}

int unpack_sequence(PyObject* value, Ref* targets, Py_ssize_t count) {
    const Py_ssize_t size = Py_SIZE(value);
    if (size > count) {
        raise_too_many_values(count);
        return -1;
    }
    if (size < count) {
        raise_need_more_values(size);
        return -1;
    }
    PyObject* const* items =
        PyTuple_CheckExact(value) ? &PyTuple_GET_ITEM(value, 0) : &PyList_GET_ITEM(value, 0);
    for (Py_ssize_t i = 0; i < count; ++i) targets[i] = Ref::borrow(items[i]);
    return 0;
}

int unpack_iterable(PyObject* value, Ref* targets, Py_ssize_t count) {
    Ref iterator = Ref::steal(PyObject_GetIter(value));
    if (!iterator) return -1;
    iternextfunc next = Py_TYPE(iterator.get())->tp_iternext;
    for (Py_ssize_t i = 0; i < count; ++i) {
        targets[i] = Ref::steal(next(iterator.get()));
        if (!targets[i]) {
            iterator.reset();
            if (finish_iteration() == 0) raise_need_more_values(i);
            return -1;
        }
    }
    Ref extra = Ref::steal(next(iterator.get()));
    if (extra) {
        raise_too_many_values(count);
        return -1;
    }
    return finish_iteration();
}

}  // namespace

void raise_need_more_values(Py_ssize_t count) {
    PyErr_Format(PyExc_ValueError, "need more than %zd value%.1s to unpack", count,
                 count == 1 ? "" : "s");
}

int unpack_values(PyObject* value, Ref* targets, Py_ssize_t count) {
    const bool exact_sequence = PyTuple_CheckExact(value) || PyList_CheckExact(value);
    const int rc = exact_sequence ? unpack_sequence(value, targets, count)
                                  : unpack_iterable(value, targets, count);
    return rc < 0 ? fail(targets, count) : 0;
}

}  // namespace wsh
