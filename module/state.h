// The process-wide module state and the statics that drive loading.
//
// The module keeps no per-module state: every cached object lives here until
// the process ends. Object fields own one reference once set; a repeated
// initialisation overwrites them (store, then release the old value).
#pragma once

#include <Python.h>

#include <cstdint>

#include "module/global_sites.h"
#include "runtime/never_destroyed.h"
#include "runtime/ref.h"
#include "runtime/traceback.h"
#include "string_table_data.h"

namespace wsh {

// One reading place of a module global: the dictionary version seen at the
// last look-up and the value found then (borrowed, valid only while the
// version matches).
struct GlobalLookupCache {
    std::uint64_t version = 0;
    PyObject* value = nullptr;
};

// One attribute read of a module, after a global read: the module dictionary
// it came from (identity only), that dictionary's version and the value
// found then (borrowed, valid only while the version matches).
struct AttributeLookupCache {
    PyObject* dict = nullptr;
    std::uint64_t version = 0;
    PyObject* value = nullptr;
};

// Reading places chain at most this many attribute reads after their global
// read (requests.exceptions.ConnectionError).
inline constexpr int attribute_chain_length = 2;

struct ModuleState {
    Ref module_dict;
    Ref builtins_module;
    Ref runtime_module;
    Ref empty_tuple;
    Ref empty_bytes;
    Ref empty_str;
    Ref code_finish_with_result;
    Ref code_get;
    Ref code_post;
    Ref strings[string_count];
    // Keyword names of the bodies' keyword calls, e.g. set_header(name=, value=).
    Ref keywords_name_value;
    Ref keywords_status_code;
    Ref keywords_status_code_result;
    Ref keywords_workspace_id;
    Ref keywords_error_str;
    Ref common_metatype;
    Ref function_type;
    TracebackCodeCache traceback_code_cache;
    GlobalLookupCache global_lookup_cache[global_site_count];
    AttributeLookupCache attribute_lookup_cache[global_site_count][attribute_chain_length];
};

struct LoadingStatics {
    std::int64_t main_interpreter_id = -1;  // set by the first create hook
    Ref module_object;                      // the module whose exec hook started
    std::uint32_t runtime_version = 0;      // packed running version, 0 = not read
};

extern constinit NeverDestroyed<ModuleState> module_state_storage;
extern constinit NeverDestroyed<LoadingStatics> loading_statics_storage;

inline ModuleState& state() noexcept { return module_state_storage.get(); }
inline LoadingStatics& loading() noexcept { return loading_statics_storage.get(); }

// A constant table entry (borrowed; the table owns it for the process).
inline PyObject* str(StringId id) noexcept { return state().strings[id].get(); }

// The full dotted name of the module and its initialisation traceback name.
inline constexpr const char module_full_name[] =
    "corvanix.server.handlers.zorvik.workspace_handler";
inline constexpr const char init_function_name[] =
    "init corvanix.server.handlers.zorvik.workspace_handler";
// The file name every traceback entry of the module carries.
inline constexpr const char source_file_name[] =
    "corvanix/server/handlers/zorvik/workspace_handler.py";

}  // namespace wsh
