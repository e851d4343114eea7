// The code objects made for traceback entries, one per source line.
#pragma once

#include <Python.h>

#include "runtime/ref.h"

namespace wsh {

// Kept sorted by line for a binary search. Grown by 64 entries at a time and
// never freed while the process runs; each entry owns one reference to its
// code object.
struct TracebackCodeCache {
    struct Entry {
        PyObject* code;
        int line;
    };
    Entry* entries = nullptr;
    int count = 0;
    int capacity = 0;
};

// The position of `line` in the cache: the index of its entry, or where an
// entry for it belongs.
int traceback_cache_position(const TracebackCodeCache& cache, int line);

// A new reference to the code object cached for `line`, or an empty handle.
Ref cached_code(const TracebackCodeCache& cache, int line);

// Caches `code` for `line` (replacing an entry for that line). Without the
// memory for it the code object is simply not cached.
void cache_code(TracebackCodeCache& cache, int line, Ref code);

// Releases every entry: the entries made by a failed module initialisation
// carry its name and must not be shown for a later function at that line.
void clear_traceback_cache(TracebackCodeCache& cache);

}  // namespace wsh
