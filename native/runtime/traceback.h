// Traceback entries that name the module's source file and line.
#pragma once

namespace wsh {

// Appends an entry for `function_name` at `line` of `file_name` to the
// traceback of the raised exception. Never fails: if the entry cannot be
// made, the error of that attempt becomes the raised exception.
void add_traceback(const char* function_name, int line, const char* file_name);

}  // namespace wsh
