// The method wrappers with the handler's real parameter tables around
// stand-in bodies that hand back what they were given.
#include "handler/method_table.h"
#include "runtime/argument_binding.h"
#include "tests/native/testmod.h"

namespace wsh::testmod {

namespace {

Py_ssize_t standin_body_calls = 0;

Ref standin_self_body(PyObject*, PyObject* self) {
    ++standin_body_calls;
    return Ref::steal(PyTuple_Pack(1, self));
}

Ref standin_finish_with_result_body(PyObject*, PyObject* self, PyObject* status_code,
                                    PyObject* result) {
    ++standin_body_calls;
    return Ref::steal(PyTuple_Pack(3, self, status_code, result));
}

PyObject* t_standin_body_calls(PyObject*, PyObject*) { return PyLong_FromSsize_t(standin_body_calls); }

}  // namespace

PyMethodDef argparse_methods[] = {
    {"bind_finish_with_result",
     stored_entry_point(method_wrapper<writer_signature, standin_finish_with_result_body>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"bind_get", stored_entry_point(method_wrapper<get_signature, standin_self_body>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"bind_post", stored_entry_point(method_wrapper<post_signature, standin_self_body>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"standin_body_calls", t_standin_body_calls, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace wsh::testmod
