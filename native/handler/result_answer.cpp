#include "handler/result_answer.h"

#include "handler/handler_state.h"
#include "runtime/call.h"
#include "string_table_data.h"

namespace wsh {

int make_result_answer(PyObject* self, PyObject* status_code, PyObject* result) {
    // Writable: the callee may borrow the slot before the keyword values.
    PyObject* args[] = {self, status_code, result};
    Ref answered = call_method_keywords(
        str(s_finish_with_result), args, handler_state().keywords_status_code_result.get());
    return answered ? 0 : -1;
}

Ref one_key_dict(StringId key, PyObject* value) {
    Ref dict = Ref::steal(PyDict_New());
    if (dict && PyDict_SetItem(dict.get(), str(key), value) < 0) dict.reset();
    return dict;
}

}  // namespace wsh
