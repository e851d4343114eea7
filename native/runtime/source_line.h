// The named lines of a module's source that its traceback entries show.
#pragma once

#include <span>
#include <string_view>

namespace wsh {

// One named line, in a table of the lines (the module body's, and each
// method's in its record).
struct SourceLine {
    std::string_view name;
    int line;
};

int missing_source_line();  // never defined: see line_in

// The line named `name` in `table`. Evaluated at compile time: a name that
// is not in the table does not compile.
consteval int line_in(std::span<const SourceLine> table, std::string_view name) {
    for (const SourceLine& entry : table) {
        if (entry.name == name) return entry.line;
    }
    return missing_source_line();
}

}  // namespace wsh
