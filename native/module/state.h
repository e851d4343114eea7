// The module frame's process-wide state and the statics that drive loading.
//
// The module keeps no per-module state: every cached object lives until the
// process ends (what the runtime and the handler keep is in their own
// states). Object fields own one reference once set; a repeated
// initialisation overwrites them (store, then release the old value).
#pragma once

#include <Python.h>

#include <cstdint>

#include "handler/method_table.h"
#include "runtime/lookup.h"
#include "runtime/never_destroyed.h"
#include "runtime/ref.h"
#include "string_table_data.h"

namespace wsh {


struct ModuleState {
    Ref runtime_module;
    // The constant table: every name, key and text the module uses (the
    // runtime reads it through its own state).
    Ref strings[string_count];
    // The handler methods' code objects, in the method table's order.
    Ref method_code[handler_method_count];
    // The class statement's reading places: `APIHandler`, and `tornado` for
    // each decorated method (in the method table's order).
    ReadingPlace base_place;
    ReadingPlace decorator_places[handler_method_count];
};

struct LoadingStatics {
    std::int64_t main_interpreter_id = -1;  // set by the first create hook
    Ref module_object;                      // the module whose exec hook started
    std::uint32_t runtime_version = 0;      // packed running version, 0 = not read
};

extern constinit NeverDestroyed<ModuleState> module_state_storage;
extern constinit NeverDestroyed<LoadingStatics> loading_statics_storage;

inline ModuleState& module_state() noexcept { return module_state_storage.get(); }
inline LoadingStatics& loading_statics() noexcept { return loading_statics_storage.get(); }

// The full dotted name of the module and its initialisation traceback name.
inline constexpr const char module_full_name[] =
    "corvanix.server.handlers.zorvik.workspace_handler";
inline constexpr const char init_function_name[] =
    "init corvanix.server.handlers.zorvik.workspace_handler";

}  // namespace wsh
