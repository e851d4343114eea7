// The named lines of a module's source that its traceback entries show.
#pragma once

#include <cstddef>
#include <string_view>

namespace wsh {

// One named line, in a table of the lines (one table per layer).
struct SourceLine {
    std::string_view name;
    int line;
};

int missing_source_line();  // never defined: see line_in

// The line named `name` in `table`. Evaluated at compile time: a name that
// is not in the table does not compile.
template <std::size_t N>
consteval int line_in(const SourceLine (&table)[N], std::string_view name) {
    for (const SourceLine& entry : table) {
        if (entry.name == name) return entry.line;
    }
    return missing_source_line();
}

}  // namespace wsh
