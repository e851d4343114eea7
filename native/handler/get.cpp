// GET: the workspaces the user has joined, as a JSON list.
#include "handler/except_clauses.h"
#include "handler/handler_state.h"
#include "handler/method_bodies.h"
#include "handler/result_answer.h"
#include "handler/signatures.h"
#include "runtime/call.h"
#include "runtime/list.h"
#include "runtime/lookup.h"
#include "string_table_data.h"

namespace wsh {

namespace {

constexpr ExceptClauses fetch_clauses = {
    get_signature,
    {handler_line("get.fetch"), handler_line("get.connection_clause"),
     handler_line("get.connection_answer"), handler_line("get.request_clause"),
     handler_line("get.parse"), handler_line("get.request_answer"),
     handler_line("get.exception_clause"), handler_line("get.exception_answer")},
    {place_get_requests_connection, place_get_requests_request, place_get_status_bad_gateway,
     place_get_parse, place_get_status_internal_error},
};

// get_joined_workspaces(): exactly a list or None, else null with the
// exception pending.
Ref fetch_joined_workspaces() {
    Ref fetch = read_global(s_get_joined_workspaces, reading_place(place_get_fetch));
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
        Ref dict = call_method_cached(str(s_to_dict), args, 1, handler_state().to_dict_method);
        if (!dict || list_append(workspaces.get(), std::move(dict)) < 0) return Ref();
    }
    return workspaces;
}

}  // namespace

Ref get_body(PyObject*, PyObject* self) {
    Ref joined = fetch_joined_workspaces();
    if (!joined) return answer_from_clauses(PyThreadState_Get(), self, fetch_clauses);

    Ref workspaces = workspace_dicts(joined.get());
    if (!workspaces) return get_signature.fail(handler_line("get.workspaces"));
    Ref status = http_status(s_OK, place_get_status_ok);
    if (!status || make_result_answer(self, status.get(), workspaces.get()) < 0) {
        return get_signature.fail(handler_line("get.answer"));
    }
    return Ref::borrow(Py_None);
}

}  // namespace wsh
