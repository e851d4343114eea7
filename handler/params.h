// The handler methods' parameters, the names their argument errors and
// traceback entries show, and the lines of their `def`s.
#pragma once

#include "module/state.h"
#include "runtime/argparse.h"

namespace wsh {

inline constexpr StringId finish_with_result_parameters[] = {s_self, s_status_code, s_result};
inline constexpr StringId get_parameters[] = {s_self};
inline constexpr StringId post_parameters[] = {s_self};

inline constexpr MethodSignature finish_with_result_signature{
    finish_with_result_parameters, "_finish_with_result",
    "corvanix.server.handlers.zorvik.workspace_handler.ZRVZorvikWorkspaceHandler._finish_with_result",
    34};
inline constexpr MethodSignature get_signature{
    get_parameters, "get",
    "corvanix.server.handlers.zorvik.workspace_handler.ZRVZorvikWorkspaceHandler.get", 44};
inline constexpr MethodSignature post_signature{
    post_parameters, "post",
    "corvanix.server.handlers.zorvik.workspace_handler.ZRVZorvikWorkspaceHandler.post", 66};

}  // namespace wsh
