// The result writer: headers, status and body of one JSON answer.
#include "handler/handler_state.h"
#include "handler/method_bodies.h"
#include "handler/signatures.h"
#include "runtime/call.h"
#include "runtime/lookup.h"
#include "runtime/text.h"
#include "string_table_data.h"

namespace wsh {

namespace {

// json.dumps(result), with `json` read at `where`.
Ref dumps(PyObject* result, HandlerPlace where) {
    Ref dumps = read_dotted(reading_place(where), s_json, s_dumps);
    if (!dumps) return dumps;
    PyObject* args[] = {result};
    return Ref::steal(call_fast_dict(dumps.get(), args, 1, nullptr));
}

int set_header(PyObject* self, StringId name, PyObject* value) {
    PyObject* args[] = {self, str(name), value};
    Ref done = Ref::steal(
        call_method_keywords(str(s_set_header), args, handler_state().keywords_name_value.get()));
    return done ? 0 : -1;
}

// The serialisation is ASCII-only, so its length in characters is the body's
// length in bytes.
Ref content_length(PyObject* result) {
    Ref text = dumps(result, place_writer_json_length);
    if (!text) return text;
    const Py_ssize_t length = PyObject_Length(text.get());
    if (length < 0) return Ref();
    return Ref::steal(int_to_str(length));
}

int set_status(PyObject* self, PyObject* status_code) {
    Ref status = PyLong_CheckExact(status_code) ? Ref::borrow(status_code)
                                                : Ref::steal(PyNumber_Long(status_code));
    if (!status) return -1;
    PyObject* args[] = {self, status.get()};
    Ref done = Ref::steal(
        call_method_keywords(str(s_set_status), args, handler_state().keywords_status_code.get()));
    return done ? 0 : -1;
}

int finish(PyObject* self, PyObject* result) {
    Ref text = dumps(result, place_writer_json_body);
    if (!text) return -1;
    PyObject* args[] = {self, text.get()};
    Ref done = Ref::steal(call_method_by_name(str(s_finish), args, 2));
    return done ? 0 : -1;
}

}  // namespace

PyObject* finish_with_result_body(PyObject*, PyObject* self, PyObject* status_code,
                                  PyObject* result) {
    const MethodSignature& method = finish_with_result_signature;
    if (set_header(self, s_Content_Type, str(s_application_json)) < 0) {
        return method.fail(handler_line("_finish_with_result.content_type"));
    }
    Ref length = content_length(result);
    if (!length || set_header(self, s_Content_Length, length.get()) < 0) {
        return method.fail(handler_line("_finish_with_result.content_length"));
    }
    if (set_status(self, status_code) < 0) {
        return method.fail(handler_line("_finish_with_result.status"));
    }
    if (finish(self, result) < 0) return method.fail(handler_line("_finish_with_result.finish"));
    Py_RETURN_NONE;
}

}  // namespace wsh
