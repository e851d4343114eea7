// POST: makes the workspace named by the body's "workspace_id" the joined one.
#include "handler/except_clauses.h"
#include "handler/post_method.h"
#include "handler/result_answer.h"
#include "runtime/call.h"
#include "runtime/compat.h"
#include "runtime/exception_matching.h"
#include "runtime/exception_state.h"
#include "runtime/lookup.h"
#include "string_table_data.h"

namespace wsh {

namespace {

constexpr const HandlerMethod& method = post_method;

constexpr ExceptClauses set_joined_clauses = {
    method,
    {method.line("set_joined"), method.line("connection_clause"),
     method.line("connection_answer"), method.line("request_clause"), method.line("parse"),
     method.line("request_answer"), method.line("exception_clause"),
     method.line("exception_answer")},
    {place_of<method, 2>(place_post_requests_connection),
     place_of<method, 2>(place_post_requests_request),
     place_of<method, 1>(place_post_status_bad_gateway), place_of<method, 0>(place_post_parse),
     place_of<method, 1>(place_post_status_internal_error)},
};

// self.get_json_body(): exactly a dict or None.
Ref read_body(PyObject* self) {
    PyObject* args[] = {self};
    Ref data = call_method_by_name(str(s_get_json_body), args, 1);
    if (data && data.get() != Py_None && !PyDict_CheckExact(data.get())) {
        PyErr_Format(PyExc_TypeError, "Expected %s, got %.200s", "dict",
                     Py_TYPE(data.get())->tp_name);
        data.reset();
    }
    return data;
}

// data["workspace_id"], as an int or None.
Ref read_workspace_id(PyObject* data) {
    if (data == Py_None) {
        PyErr_SetString(PyExc_TypeError, "'NoneType' object is not subscriptable");
        return Ref();
    }
    PyObject* key = str(s_workspace_id);
    // Held while converting: __int__ may change the dictionary.
    Ref value = Ref::borrow(compat::dict_get_known_hash(data, key, compat::str_cached_hash(key)));
    if (!value) {
        if (!PyErr_Occurred()) {
            Ref args = Ref::steal(PyTuple_Pack(1, key));
            if (args) PyErr_SetObject(PyExc_KeyError, args.get());
        }
        return value;
    }
    if (value.get() == Py_None || PyLong_CheckExact(value.get())) return value;
    if (PyNumber_Check(value.get())) return Ref::steal(PyNumber_Long(value.get()));
    PyErr_Format(PyExc_TypeError, "Expected %.200s, got %.200s", "int",
                 Py_TYPE(value.get())->tp_name);
    return Ref();
}

// format(exp.args[0], "") followed by " is required in the body of the request."
Ref missing_field_text(PyObject* exp) {
    Ref args = Ref::steal(PyObject_GetAttr(exp, str(s_args)));
    if (!args) return args;
    Ref first = Ref::steal(PySequence_GetItem(args.get(), 0));
    if (!first) return first;
    PyObject* text = PyObject_Format(first.get(), runtime_state().empty_str.get());
    if (text == nullptr) return Ref();
    // Appends in place only to a string nothing else can see.
    PyUnicode_Append(&text, str(s_is_required_suffix));
    return Ref::steal(text);
}

Ref answer_missing_field(PyObject* self, PyObject* exp) {
    Ref status = read_at<method, place_post_status_bad_request>();
    if (!status) return method.fail(method.line("missing_status"));
    Ref body = Ref::steal(PyDict_New());
    if (!body) return method.fail(method.line("missing_body"));
    Ref text = missing_field_text(exp);
    if (!text || PyDict_SetItem(body.get(), str(s_message), text.get()) < 0) {
        return method.fail(method.line("missing_body"));
    }
    if (make_result_answer(self, status.get(), body.get()) < 0) {
        return method.fail(method.line("missing_answer"));
    }
    return Ref::borrow(Py_None);
}

int set_joined(PyObject* workspace_id) {
    Ref set_joined = read_at<method, place_post_set_joined>();
    if (!set_joined) return -1;
    PyObject* args[] = {nullptr, workspace_id};
    Ref done = Ref::steal(compat::vectorcall(set_joined.get(), args + 1,
                                             compat::vectorcall_offset_flag,
                                             keyword_names<method>(post_call_set_joined)));
    return done ? 0 : -1;
}

}  // namespace

Ref post_body(PyObject*, PyObject* self) {
    Ref data = read_body(self);
    if (!data) return method.fail(method.line("body"));
    Ref workspace_id = read_workspace_id(data.get());
    if (!workspace_id) {
        PyThreadState* thread = PyThreadState_Get();
        const bool missing = exception_matches(thread, PyExc_KeyError);
        // The entry goes with the exception, caught below or not.
        method.fail(method.line("workspace_id"));
        if (!missing) return Ref();
        ExceptBlock block(thread);
        if (block.enter() < 0) return method.fail(method.line("key_error_clause"));
        return answer_missing_field(self, block.caught());
    }

    if (set_joined(workspace_id.get()) < 0) {
        return answer_from_clauses(PyThreadState_Get(), self, set_joined_clauses);
    }

    Ref status = read_at<method, place_post_status_ok>();
    if (!status) return method.fail(method.line("answer"));
    Ref body = one_key_dict(s_success, Py_True);
    if (!body || make_result_answer(self, status.get(), body.get()) < 0) {
        return method.fail(method.line("answer"));
    }
    return Ref::borrow(Py_None);
}

}  // namespace wsh
