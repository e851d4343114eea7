// GET: the workspaces the user has joined, as a JSON list.
#include "handler/except_clauses.h"
#include "handler/get_method.h"
#include "handler/result_answer.h"
#include "runtime/call.h"
#include "runtime/list.h"
#include "runtime/lookup.h"
#include "string_table_data.h"

namespace wsh {

namespace {

constexpr const HandlerMethod& method = get_method;

constexpr ExceptClauses fetch_clauses = {
    method,
    {method.line("fetch"), method.line("connection_clause"), method.line("connection_answer"),
     method.line("request_clause"), method.line("parse"), method.line("request_answer"),
     method.line("exception_clause"), method.line("exception_answer")},
    {place_of<method, 2>(place_get_requests_connection),
     place_of<method, 2>(place_get_requests_request),
     place_of<method, 1>(place_get_status_bad_gateway), place_of<method, 0>(place_get_parse),
     place_of<method, 1>(place_get_status_internal_error)},
};

// The look-up of workspace.to_dict, repeated for every workspace.
constinit MethodLookupCache to_dict_method;

// get_joined_workspaces(): exactly a list or None, else null with the
// exception pending.
Ref fetch_joined_workspaces() {
    Ref fetch = read_at<method, place_get_fetch>();
    if (!fetch) return fetch;
    Ref joined = call_fast_dict(fetch.get(), nullptr, 0, nullptr);
    if (joined && joined.get() != Py_None && !PyList_CheckExact(joined.get())) {
        PyErr_Format(PyExc_TypeError, "Expected %s, got %.200s", "list",
                     Py_TYPE(joined.get())->tp_name);
        joined.reset();
    }
    return joined;
}

// [workspace.to_dict() for workspace in joined_workspaces]. The length is
// read again before every element: to_dict() may change the list.
Ref workspace_dicts(PyObject* joined) {
    Ref workspaces = list_with_room(joined == Py_None ? 0 : PyList_GET_SIZE(joined));
    if (!workspaces) return workspaces;
    if (joined == Py_None) {
        PyErr_SetString(PyExc_TypeError, "'NoneType' object is not iterable");
        return Ref();
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(joined); ++i) {
        Ref workspace = Ref::borrow(PyList_GET_ITEM(joined, i));
        PyObject* args[] = {workspace.get()};
        Ref dict = call_method_cached(str(s_to_dict), args, 1, to_dict_method);
        if (!dict || list_append(workspaces.get(), std::move(dict)) < 0) return Ref();
    }
    return workspaces;
}

}  // namespace

Ref get_body(PyObject*, PyObject* self) {
    Ref joined = fetch_joined_workspaces();
    if (!joined) return answer_from_clauses(PyThreadState_Get(), self, fetch_clauses);

    Ref workspaces = workspace_dicts(joined.get());
    if (!workspaces) return method.fail(method.line("workspaces"));
    Ref status = read_at<method, place_get_status_ok>();
    if (!status || make_result_answer(self, status.get(), workspaces.get()) < 0) {
        return method.fail(method.line("answer"));
    }
    return Ref::borrow(Py_None);
}

}  // namespace wsh
