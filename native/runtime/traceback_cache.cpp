#include "runtime/traceback_cache.h"

#include <cstring>
#include <utility>

namespace wsh {

namespace {

constexpr int cache_growth = 64;

bool holds_line(const TracebackCodeCache& cache, int position, int line) {
    return position < cache.count && cache.entries[position].line == line;
}

}  // namespace

int traceback_cache_position(const TracebackCodeCache& cache, int line) {
    const TracebackCodeCache::Entry* e = cache.entries;
    if (cache.count == 0) return 0;
    if (line > e[cache.count - 1].line) return cache.count;
    int start = 0;
    int end = cache.count - 1;
    int mid = 0;
    while (start < end) {
        mid = start + (end - start) / 2;
        if (line < e[mid].line) {
            end = mid;
        } else if (line > e[mid].line) {
            start = mid + 1;
        } else {
            return mid;
        }
    }
    return line <= e[mid].line ? mid : mid + 1;
}

Ref cached_code(const TracebackCodeCache& cache, int line) {
    if (line == 0 || cache.entries == nullptr) return Ref();
    const int position = traceback_cache_position(cache, line);
    if (!holds_line(cache, position, line)) return Ref();
    return Ref::borrow(cache.entries[position].code);
}

void cache_code(TracebackCodeCache& cache, int line, Ref code) {
    if (cache.entries == nullptr) {
        auto* entries = PyMem_New(TracebackCodeCache::Entry, cache_growth);
        if (entries == nullptr) return;
        entries[0] = {code.release(), line};
        cache.entries = entries;
        cache.count = 1;
        cache.capacity = cache_growth;
        return;
    }
    // Searched again here: making the code object may have run Python code.
    const int position = traceback_cache_position(cache, line);
    if (holds_line(cache, position, line)) {
        reset(cache.entries[position].code, code.release());
        return;
    }
    if (cache.count == cache.capacity) {
        // Grown into a temporary so a failed reallocation keeps the old array.
        TracebackCodeCache::Entry* grown = cache.entries;
        PyMem_Resize(grown, TracebackCodeCache::Entry,
                     static_cast<std::size_t>(cache.capacity + cache_growth));
        if (grown == nullptr) return;
        cache.entries = grown;
        cache.capacity += cache_growth;
    }
    std::memmove(cache.entries + position + 1, cache.entries + position,
                 static_cast<std::size_t>(cache.count - position) *
                     sizeof(TracebackCodeCache::Entry));
    cache.entries[position] = {code.release(), line};
    ++cache.count;
}

void clear_traceback_cache(TracebackCodeCache& cache) {
    // Emptied before the releases, which never see a half-cleared cache.
    TracebackCodeCache old = std::exchange(cache, TracebackCodeCache{});
    for (int i = 0; i < old.count; ++i) reset(old.entries[i].code);
    PyMem_Free(old.entries);
}

}  // namespace wsh
