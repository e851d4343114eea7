#include "handler/handler_state.h"

#include <initializer_list>

#include "runtime/runtime_state.h"
#include "string_table_data.h"

namespace wsh {

constinit NeverDestroyed<HandlerState> handler_state_storage;

namespace {

Ref names_tuple(std::initializer_list<StringId> names) {
    Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
    if (!tuple) return tuple;
    Py_ssize_t i = 0;
    for (StringId id : names) PyTuple_SET_ITEM(tuple.get(), i++, new_reference(str(id)));
    return tuple;
}

}  // namespace

int init_handler_state() {
    HandlerState& st = handler_state();
    struct Entry {
        Ref HandlerState::*field;
        std::initializer_list<StringId> names;
    };
    const Entry entries[] = {
        {&HandlerState::keywords_name_value, {s_name, s_value}},
        {&HandlerState::keywords_status_code, {s_status_code}},
        {&HandlerState::keywords_status_code_result, {s_status_code, s_result}},
        {&HandlerState::keywords_workspace_id, {s_workspace_id}},
        {&HandlerState::keywords_error_str, {s_error_str}},
    };
    for (const Entry& entry : entries) {
        Ref tuple = names_tuple(entry.names);
        if (!tuple) return -1;
        st.*entry.field = std::move(tuple);
    }
    return 0;
}

}  // namespace wsh
