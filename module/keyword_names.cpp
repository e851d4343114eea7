#include "module/keyword_names.h"

#include <initializer_list>

namespace wsh {

namespace {

Ref names_tuple(std::initializer_list<StringId> names) {
    Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
    if (!tuple) return tuple;
    Py_ssize_t i = 0;
    for (StringId id : names) PyTuple_SET_ITEM(tuple.get(), i++, state().strings[id].new_ref());
    return tuple;
}

}  // namespace

int init_keyword_names(ModuleState& st) {
    struct Entry {
        Ref ModuleState::*field;
        std::initializer_list<StringId> names;
    };
    const Entry entries[] = {
        {&ModuleState::keywords_name_value, {s_name, s_value}},
        {&ModuleState::keywords_status_code, {s_status_code}},
        {&ModuleState::keywords_status_code_result, {s_status_code, s_result}},
        {&ModuleState::keywords_workspace_id, {s_workspace_id}},
        {&ModuleState::keywords_error_str, {s_error_str}},
    };
    for (const Entry& entry : entries) {
        Ref tuple = names_tuple(entry.names);
        if (!tuple) return -1;
        st.*entry.field = std::move(tuple);
    }
    return 0;
}

}  // namespace wsh
