#include "handler/method_table.h"

#include <utility>

#include "runtime/function.h"

namespace wsh {

namespace {

PyMethodDef definition_of(const HandlerMethod& method) {
    return {method.signature.plain_name, stored_entry_point(method.wrapper),
            METH_FASTCALL | METH_KEYWORDS, method.doc};
}

template <std::size_t... i>
std::array<PyMethodDef, handler_method_count> definitions(std::index_sequence<i...>) {
    return {definition_of(handler_method(i))...};
}

}  // namespace

std::array<PyMethodDef, handler_method_count> handler_method_definitions =
    definitions(std::make_index_sequence<handler_method_count>());

}  // namespace wsh
