// The handler methods' parameters, the names their argument errors and
// traceback entries show, and the lines of their `def`s.
#pragma once

#include "handler/source_lines.h"
#include "runtime/argument_binding.h"
#include "runtime/runtime_state.h"
#include "string_table_data.h"

namespace wsh {

inline constexpr StringId finish_with_result_parameters[] = {s_self, s_status_code, s_result};
inline constexpr StringId get_parameters[] = {s_self};
inline constexpr StringId post_parameters[] = {s_self};

inline constexpr MethodSignature finish_with_result_signature{
    finish_with_result_parameters, "_finish_with_result",
    "corvanix.server.handlers.zorvik.workspace_handler.ZRVZorvikWorkspaceHandler._finish_with_result",
    handler_line("_finish_with_result")};
inline constexpr MethodSignature get_signature{
    get_parameters, "get",
    "corvanix.server.handlers.zorvik.workspace_handler.ZRVZorvikWorkspaceHandler.get",
    handler_line("get")};
inline constexpr MethodSignature post_signature{
    post_parameters, "post",
    "corvanix.server.handlers.zorvik.workspace_handler.ZRVZorvikWorkspaceHandler.post",
    handler_line("post")};

}  // namespace wsh
