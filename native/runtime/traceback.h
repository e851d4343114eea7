// Traceback entries that name the module's source file and line.
#pragma once

#include <Python.h>

#include <cstddef>
#include <string_view>

namespace wsh {

// Code objects made for traceback entries, one per source line, kept sorted
// by line for a binary search. Grown by 64 entries at a time and never freed
// while the process runs; each entry owns one reference to its code object.
struct TracebackCodeCache {
    struct Entry {
        PyObject* code;
        int line;
    };
    Entry* entries = nullptr;
    int count = 0;
    int capacity = 0;
};

// A named line of the module's source, in the tables of the lines that
// traceback entries show (one table per layer of the module).
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

// The file name every traceback entry of the module carries.
inline constexpr const char source_file_name[] =
    "corvanix/server/handlers/zorvik/workspace_handler.py";

// Appends an entry for `function_name` at `line` of `file_name` to the
// traceback of the current exception. Never fails: if the entry cannot be
// made, the error of that attempt becomes the pending exception.
void add_traceback(const char* function_name, int line, const char* file_name);

// Releases every entry: the entries made by a failed module initialisation
// carry its name and must not be shown for a later function at that line.
void clear_traceback_cache(TracebackCodeCache& cache);

// The position of `line` in the cache: the index of its entry, or where an
// entry for it belongs.
int traceback_cache_position(const TracebackCodeCache& cache, int line);

}  // namespace wsh
