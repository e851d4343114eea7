#include "runtime/traceback.h"

#include <cstring>
#include <utility>
#include <frameobject.h>

#include "runtime/compat.h"
#include "runtime/exception_state.h"
#include "runtime/runtime_state.h"

namespace wsh {

namespace {

constexpr int cache_growth = 64;

// Takes over `code`; on any allocation failure the code object is simply not
// cached, the traceback entry does not depend on it.
void cache_insert(TracebackCodeCache& cache, int line, Ref code) {
    if (cache.entries == nullptr) {
        auto* entries = static_cast<TracebackCodeCache::Entry*>(
            PyMem_Malloc(cache_growth * sizeof(TracebackCodeCache::Entry)));
        if (entries == nullptr) return;
        entries[0] = {code.release(), line};
        cache.entries = entries;
        cache.count = 1;
        cache.capacity = cache_growth;
        return;
    }
    // Searched again here: making the code object may have run Python code.
    const int pos = traceback_cache_position(cache, line);
    if (pos < cache.count && cache.entries[pos].line == line) {
        Ref old = Ref::steal(std::exchange(cache.entries[pos].code, code.release()));
        return;
    }
    if (cache.count == cache.capacity) {
        // Grown into a temporary so a failed reallocation keeps the old array.
        auto* grown = static_cast<TracebackCodeCache::Entry*>(PyMem_Realloc(
            cache.entries,
            static_cast<size_t>(cache.capacity + cache_growth) * sizeof(TracebackCodeCache::Entry)));
        if (grown == nullptr) return;
        cache.entries = grown;
        cache.capacity += cache_growth;
    }
    std::memmove(cache.entries + pos + 1, cache.entries + pos,
                 static_cast<size_t>(cache.count - pos) * sizeof(TracebackCodeCache::Entry));
    cache.entries[pos] = {code.release(), line};
    ++cache.count;
}

Ref cached_code(const TracebackCodeCache& cache, int line) {
    if (line == 0 || cache.entries == nullptr) return Ref();
    const int pos = traceback_cache_position(cache, line);
    if (pos < cache.count && cache.entries[pos].line == line) {
        return Ref::borrow(cache.entries[pos].code);
    }
    return Ref();
}

}  // namespace

void clear_traceback_cache(TracebackCodeCache& cache) {
    // Emptied before the releases, which never see a half-cleared cache.
    TracebackCodeCache old = std::exchange(cache, TracebackCodeCache{});
    for (int i = 0; i < old.count; ++i) Ref released = Ref::steal(old.entries[i].code);
    PyMem_Free(old.entries);
}

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

void add_traceback(const char* function_name, int line, const char* file_name) {
    RuntimeState& st = runtime_state();
    if (!st.module_dict) return;
    if (!PyErr_Occurred()) {
        // A callee returned null without an exception: report that instead of
        // attaching a traceback to nothing.
        PyErr_SetString(PyExc_SystemError, "error return without exception set");
    }
    TracebackCodeCache& cache = st.traceback_code_cache;
    Ref code = cached_code(cache, line);
    if (!code) {
        // Nothing may be pending while the code object is made.
        RaisedException taken = take_raised();
        code = Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(file_name, function_name, line)));
        if (!code) return;  // the creation's error stands; the taken one is released
        restore_raised(std::move(taken));
        if (line != 0) cache_insert(cache, line, Ref::borrow(code.get()));
    }
    Ref frame = Ref::steal(reinterpret_cast<PyObject*>(
        PyFrame_New(PyThreadState_Get(), reinterpret_cast<PyCodeObject*>(code.get()),
                    st.module_dict.get(), nullptr)));
    if (!frame) return;
    compat::set_frame_line(reinterpret_cast<PyFrameObject*>(frame.get()), line);
    PyTraceBack_Here(reinterpret_cast<PyFrameObject*>(frame.get()));
}

}  // namespace wsh
