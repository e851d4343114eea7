// The lines of the handler's source that its traceback entries show, each
// named once; the code and the tests (through the test-only module) read
// them here. A method's own name is the line of its `def`.
#pragma once

#include <string_view>

#include "runtime/source_line.h"

namespace wsh {

inline constexpr SourceLine handler_source_lines[] = {
    {"_finish_with_result", 34},
    {"_finish_with_result.content_type", 39},
    {"_finish_with_result.content_length", 40},
    {"_finish_with_result.status", 41},
    {"_finish_with_result.finish", 42},
    {"get", 44},
    {"get.fetch", 50},
    {"get.connection_clause", 51},
    {"get.connection_answer", 52},
    {"get.request_clause", 54},
    {"get.parse", 55},
    {"get.request_answer", 56},
    {"get.exception_clause", 58},
    {"get.exception_answer", 59},
    {"get.workspaces", 62},
    {"get.answer", 64},
    {"post", 66},
    {"post.body", 71},
    {"post.workspace_id", 74},
    {"post.key_error_clause", 75},
    {"post.missing_answer", 76},
    {"post.missing_status", 77},
    {"post.missing_body", 78},
    {"post.set_joined", 83},
    {"post.connection_clause", 84},
    {"post.connection_answer", 85},
    {"post.request_clause", 87},
    {"post.parse", 88},
    {"post.request_answer", 89},
    {"post.exception_clause", 91},
    {"post.exception_answer", 92},
    {"post.answer", 95},
};

// The handler's line named `name` (compile time only).
consteval int handler_line(std::string_view name) { return line_in(handler_source_lines, name); }

}  // namespace wsh
