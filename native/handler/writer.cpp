// The result writer: headers, status and body of one JSON answer.
#include "handler/writer_method.h"
#include "runtime/call.h"
#include "runtime/lookup.h"
#include "runtime/text.h"
#include "string_table_data.h"

namespace wsh {

namespace {

constexpr const HandlerMethod& method = writer_method;

// json.dumps(result), read at `where`.
template <int where>
[[gnu::always_inline]] inline Ref dumps(PyObject* result) {
    Ref dumps = read_at<method, where>();
    if (!dumps) return dumps;
    PyObject* args[] = {result};
    return call_fast_dict(dumps.get(), args, 1, nullptr);
}

int set_header(PyObject* self, StringId name, PyObject* value) {
    PyObject* args[] = {self, str(name), value};
    Ref done = call_method_keywords(str(s_set_header), args,
                                    keyword_names<method>(writer_call_set_header));
    return done ? 0 : -1;
}

// The serialisation is ASCII-only, so its length in characters is the body's
// length in bytes.
Ref content_length(PyObject* result) {
    Ref text = dumps<place_writer_json_length>(result);
    if (!text) return text;
    const Py_ssize_t length = PyObject_Length(text.get());
    if (length < 0) return Ref();
    return int_to_str(length);
}

int set_status(PyObject* self, PyObject* status_code) {
    // An exact int is passed as it is, held by our caller; anything else as
    // the int it converts to, held here.
    Ref converted;
    PyObject* status = status_code;
    if (!PyLong_CheckExact(status_code)) {
        converted = Ref::steal(PyNumber_Long(status_code));
        if (!converted) return -1;
        status = converted.get();
    }
    PyObject* args[] = {self, status};
    Ref done = call_method_keywords(str(s_set_status), args,
                                    keyword_names<method>(writer_call_set_status));
    return done ? 0 : -1;
}

int finish(PyObject* self, PyObject* result) {
    Ref text = dumps<place_writer_json_body>(result);
    if (!text) return -1;
    PyObject* args[] = {self, text.get()};
    Ref done = call_method_by_name(str(s_finish), args, 2);
    return done ? 0 : -1;
}

}  // namespace

Ref writer_body(PyObject*, PyObject* self, PyObject* status_code, PyObject* result) {
    if (set_header(self, s_Content_Type, str(s_application_json)) < 0) {
        return method.fail(method.line("content_type"));
    }
    Ref length = content_length(result);
    if (!length || set_header(self, s_Content_Length, length.get()) < 0) {
        return method.fail(method.line("content_length"));
    }
    if (set_status(self, status_code) < 0) {
        return method.fail(method.line("status"));
    }
    if (finish(self, result) < 0) return method.fail(method.line("finish"));
    return Ref::borrow(Py_None);
}

}  // namespace wsh
