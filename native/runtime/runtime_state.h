// What the runtime support needs of the module that uses it: filled by that
// module's initialisation before any runtime operation runs, and kept for
// the process (the interpreter may be gone before its destructor would run).
#pragma once

#include <Python.h>

#include "runtime/never_destroyed.h"
#include "runtime/ref.h"
#include "runtime/traceback.h"
#include "string_table_data.h"

namespace wsh {

struct RuntimeState {
    // Globals of the module's functions and of its traceback frames.
    Ref module_dict;
    Ref builtins_module;
    Ref empty_tuple;
    Ref empty_bytes;
    Ref empty_str;
    // The constant table: every name, key and text the module uses.
    Ref strings[string_count];
    // The shared types (see registry.h).
    Ref common_metatype;
    Ref function_type;
    TracebackCodeCache traceback_code_cache;
};

extern constinit NeverDestroyed<RuntimeState> runtime_state_storage;

inline RuntimeState& runtime_state() noexcept { return runtime_state_storage.get(); }

// A constant table entry (borrowed; the table owns it for the process).
inline PyObject* str(StringId id) noexcept { return runtime_state().strings[id].get(); }

}  // namespace wsh
