#include "handler/handler_state.h"

#include "handler/method_table.h"
#include "runtime/runtime_state.h"
#include "string_table_data.h"

namespace wsh {

constinit NeverDestroyed<HandlerState> handler_state_storage;

Ref names_tuple(std::span<const StringId> names) {
    Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
    if (!tuple) return tuple;
    Py_ssize_t i = 0;
    for (StringId id : names) PyTuple_SET_ITEM(tuple.get(), i++, new_reference(str(id)));
    return tuple;
}

namespace {

constexpr StringId status_code_result[] = {s_status_code, s_result};
constexpr StringId error_str[] = {s_error_str};

}  // namespace

int init_handler_state() {
    HandlerState& st = handler_state();
    st.keywords_status_code_result = names_tuple(status_code_result);
    if (!st.keywords_status_code_result) return -1;
    st.keywords_error_str = names_tuple(error_str);
    if (!st.keywords_error_str) return -1;
    return HandlerMethods::each(
        []<const HandlerMethod& method>() { return init_method_keywords<method>(); });
}

}  // namespace wsh
