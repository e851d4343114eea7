// GET's record: `get(self)`, the workspaces the user has joined.
#pragma once

#include "handler/method_record.h"
#include "string_table_data.h"

namespace wsh {

// Its reading places and what each reads.
enum GetReadingPlace : int {
    place_get_fetch,
    place_get_requests_connection,
    place_get_status_bad_gateway,
    place_get_requests_request,
    place_get_parse,
    place_get_status_internal_error,
    place_get_status_ok,
};

inline constexpr GlobalRead get_reads[] = {
    {place_get_fetch, s_get_joined_workspaces},
    {place_get_requests_connection, s_requests, s_exceptions, s_ConnectionError},
    {place_get_status_bad_gateway, s_HTTPStatus, s_BAD_GATEWAY},
    {place_get_requests_request, s_requests, s_exceptions, s_RequestException},
    {place_get_parse, s_parse_zorvik_exception},
    {place_get_status_internal_error, s_HTTPStatus, s_INTERNAL_SERVER_ERROR},
    {place_get_status_ok, s_HTTPStatus, s_OK},
};

inline constexpr StringId get_parameters[] = {s_self};

inline constexpr MethodSignature get_signature{
    get_parameters, "get",
    "corvanix.server.handlers.zorvik.workspace_handler.ZRVZorvikWorkspaceHandler.get", 44};

inline constexpr SourceLine get_lines[] = {
    {"fetch", 50},
    {"connection_clause", 51},
    {"connection_answer", 52},
    {"request_clause", 54},
    {"parse", 55},
    {"request_answer", 56},
    {"exception_clause", 58},
    {"exception_answer", 59},
    {"workspaces", 62},
    {"answer", 64},
};

inline constexpr StringId get_locals[] = {s_self,        s_joined_workspaces, s_exp,
                                          s_status_code, s_message,           s_e,
                                          s_workspaces,  s_workspace};
inline constexpr Annotation get_annotations[] = {{s_return_, s_None}};

Ref get_body(PyObject* function, PyObject* self);

inline constexpr HandlerMethod get_method{
    .signature = get_signature,
    .lines = get_lines,
    .name = s_get,
    .qualname = s_qual_get,
    .doc = "\n        GET method to retrieve connected workspaces.\n        ",
    .locals = get_locals,
    .annotations = get_annotations,
    .decorated = true,
    .reads = get_reads,
    .keyword_calls = {},
    .wrapper = method_wrapper<get_signature, get_body>,
    .fast_entry = method_fast_entry<get_signature, get_body>,
};

}  // namespace wsh
