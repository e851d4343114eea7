// What the runtime support needs of the module that uses it: filled by that
// module's initialisation before any runtime operation runs, and kept for
// the process (the interpreter may be gone before its destructor would run).
// Nothing here is particular to one module: its texts, its constant table
// and the file name of its traceback entries are all given by the module.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>

#include "runtime/never_destroyed.h"
#include "runtime/ref.h"
#include "runtime/traceback_cache.h"

namespace wsh {

// The index of an entry of the module's constant table.
using StringId = std::uint16_t;

struct RuntimeState {
    // Globals of the module's functions and of its traceback frames.
    Ref module_dict;
    Ref builtins_module;
    Ref empty_tuple;
    Ref empty_bytes;
    Ref empty_str;
    // The module's constant table (the module owns it): every name, key and
    // text the module uses, each with its hash computed.
    std::span<const Ref> strings;
    // The entries of that table the runtime's own operations read.
    StringId unknown_name = 0;           // "?", for a function the collector cleared
    StringId coroutine_marker_name = 0;  // "_is_coroutine"
    StringId coroutine_module_name = 0;  // "asyncio.coroutines"
    // The file name every traceback entry of the module carries.
    const char* source_file_name = nullptr;
    // The shared types (see registry.h).
    Ref common_metatype;
    Ref function_type;
    TracebackCodeCache traceback_code_cache;
};

extern constinit NeverDestroyed<RuntimeState> runtime_state_storage;

inline RuntimeState& runtime_state() noexcept { return runtime_state_storage.get(); }

// A constant table entry (borrowed; the table owns it for the process).
inline Borrowed str(StringId id) noexcept { return Borrowed(runtime_state().strings[id].get()); }

}  // namespace wsh
