// POST's record: `post(self)`, the body's "workspace_id" made the joined one.
#pragma once

#include "handler/method_record.h"
#include "string_table_data.h"

namespace wsh {

// Its reading places and what each reads.
enum PostReadingPlace : int {
    place_post_status_bad_request,
    place_post_set_joined,
    place_post_requests_connection,
    place_post_status_bad_gateway,
    place_post_requests_request,
    place_post_parse,
    place_post_status_internal_error,
    place_post_status_ok,
};

inline constexpr GlobalRead post_reads[] = {
    {place_post_status_bad_request, s_HTTPStatus, s_BAD_REQUEST},
    {place_post_set_joined, s_set_joined_workspace},
    {place_post_requests_connection, s_requests, s_exceptions, s_ConnectionError},
    {place_post_status_bad_gateway, s_HTTPStatus, s_BAD_GATEWAY},
    {place_post_requests_request, s_requests, s_exceptions, s_RequestException},
    {place_post_parse, s_parse_zorvik_exception},
    {place_post_status_internal_error, s_HTTPStatus, s_INTERNAL_SERVER_ERROR},
    {place_post_status_ok, s_HTTPStatus, s_OK},
};

// Its keyword calls.
enum PostKeywordCall : int {
    post_call_set_joined,  // set_joined_workspace(workspace_id=)
};

inline constexpr StringId post_parameters[] = {s_self};

inline constexpr MethodSignature post_signature{
    post_parameters, "post",
    "corvanix.server.handlers.zorvik.workspace_handler.ZRVZorvikWorkspaceHandler.post", 66};

inline constexpr SourceLine post_lines[] = {
    {"body", 71},
    {"workspace_id", 74},
    {"key_error_clause", 75},
    {"missing_answer", 76},
    {"missing_status", 77},
    {"missing_body", 78},
    {"set_joined", 83},
    {"connection_clause", 84},
    {"connection_answer", 85},
    {"request_clause", 87},
    {"parse", 88},
    {"request_answer", 89},
    {"exception_clause", 91},
    {"exception_answer", 92},
    {"answer", 95},
};

inline constexpr StringId post_locals[] = {s_self,        s_data,    s_workspace_id, s_exp,
                                           s_status_code, s_message, s_e};
inline constexpr Annotation post_annotations[] = {{s_return_, s_None}};
inline constexpr StringId post_set_joined_keywords[] = {s_workspace_id};
inline constexpr KeywordCall post_keyword_calls[] = {
    {post_call_set_joined, post_set_joined_keywords},
};

Ref post_body(PyObject* function, PyObject* self);

inline constexpr HandlerMethod post_method{
    .signature = post_signature,
    .lines = post_lines,
    .name = s_post,
    .qualname = s_qual_post,
    .doc = "\n        POST method to set workspace id.\n        ",
    .locals = post_locals,
    .annotations = post_annotations,
    .decorated = true,
    .reads = post_reads,
    .keyword_calls = post_keyword_calls,
    .wrapper = method_wrapper<post_signature, post_body>,
    .fast_entry = method_fast_entry<post_signature, post_body>,
};

}  // namespace wsh
