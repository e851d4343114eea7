// The result writer's record: `_finish_with_result(self, status_code,
// result)`, the headers, status and body of one JSON answer.
#pragma once

#include "handler/method_record.h"
#include "string_table_data.h"

namespace wsh {

// Its reading places and what each reads.
enum WriterReadingPlace : int {
    place_writer_json_length,
    place_writer_json_body,
};

inline constexpr GlobalRead writer_reads[] = {
    {place_writer_json_length, s_json, s_dumps},
    {place_writer_json_body, s_json, s_dumps},
};

// Its keyword calls.
enum WriterKeywordCall : int {
    writer_call_set_header,  // set_header(name=, value=)
    writer_call_set_status,  // set_status(status_code=)
};

inline constexpr StringId writer_parameters[] = {s_self, s_status_code, s_result};

inline constexpr MethodSignature writer_signature{
    writer_parameters, "_finish_with_result",
    "corvanix.server.handlers.zorvik.workspace_handler.ZRVZorvikWorkspaceHandler._finish_with_result",
    34};

inline constexpr SourceLine writer_lines[] = {
    {"content_type", 39},
    {"content_length", 40},
    {"status", 41},
    {"finish", 42},
};

inline constexpr Annotation writer_annotations[] = {
    {s_status_code, s_ann_status_code}, {s_result, s_ann_result}, {s_return_, s_None}};
inline constexpr StringId writer_set_header_keywords[] = {s_name, s_value};
inline constexpr StringId writer_set_status_keywords[] = {s_status_code};
inline constexpr KeywordCall writer_keyword_calls[] = {
    {writer_call_set_header, writer_set_header_keywords},
    {writer_call_set_status, writer_set_status_keywords},
};

Ref writer_body(PyObject* function, PyObject* self, PyObject* status_code,
                            PyObject* result);

inline constexpr HandlerMethod writer_method{
    .signature = writer_signature,
    .lines = writer_lines,
    .name = s_finish_with_result,
    .qualname = s_qual_finish_with_result,
    .doc = nullptr,
    .locals = writer_parameters,
    .annotations = writer_annotations,
    .decorated = false,
    .reads = writer_reads,
    .keyword_calls = writer_keyword_calls,
    .wrapper = method_wrapper<writer_signature, writer_body>,
    .fast_entry = method_fast_entry<writer_signature, writer_body>,
};

}  // namespace wsh
