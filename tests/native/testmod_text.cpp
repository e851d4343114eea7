// Decimal text of machine integers.
#include "runtime/text.h"
#include "tests/native/testmod.h"

namespace wsh::testmod {

namespace {

PyObject* t_int_to_str(PyObject*, PyObject* value) {
    const long long n = PyLong_AsLongLong(value);
    if (n == -1 && PyErr_Occurred()) return nullptr;
    return int_to_str(n).release();
}

}  // namespace

PyMethodDef text_methods[] = {
    {"int_to_str", t_int_to_str, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace wsh::testmod
