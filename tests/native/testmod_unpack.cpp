// Unpacking into two targets and its error texts.
#include "runtime/unpack.h"
#include "tests/native/testmod.h"

namespace wsh::testmod {

namespace {

PyObject* t_unpack_pair(PyObject*, PyObject* value) {
    Ref first;
    Ref second;
    if (unpack_pair(value, first, second) < 0) {
        if (first || second) {
            PyErr_SetString(PyExc_AssertionError, "a failed unpacking kept an item");
        }
        return nullptr;
    }
    return PyTuple_Pack(2, first.get(), second.get());
}

PyObject* t_raise_need_more_values(PyObject*, PyObject* count) {
    const Py_ssize_t n = PyLong_AsSsize_t(count);
    if (n == -1 && PyErr_Occurred()) return nullptr;
    raise_need_more_values(n);
    return nullptr;
}

}  // namespace

PyMethodDef unpack_methods[] = {
    {"unpack_pair", t_unpack_pair, METH_O, nullptr},
    {"raise_need_more_values", t_raise_need_more_values, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace wsh::testmod
