// The lines of the module body's own statements that its "init" traceback
// entries show, each named once (the methods' lines are the handler's).
#pragma once

#include <string_view>

#include "runtime/source_line.h"

namespace wsh {

inline constexpr SourceLine module_source_lines[] = {
    // Failures before the first statement (state, types, code objects).
    {"module", 1},
    {"import json", 19},
    {"from http import", 20},
    {"from typing import", 21},
    {"import requests", 23},
    {"import tornado", 24},
    {"from jupyter_server.base.handlers import", 25},
    {"from corvanix.zorvik import", 27},
    {"from corvanix.zorvik.schemas import", 28},
    {"from corvanix.server.misc.functions import", 29},
    {"class", 32},
};

// The module body's line named `name` (compile time only).
consteval int module_line(std::string_view name) { return line_in(module_source_lines, name); }

}  // namespace wsh
