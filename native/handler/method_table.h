// The handler's methods, in the order the class defines them: the one list
// a new method's record joins.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>

#include "handler/get_method.h"
#include "handler/method_record.h"
#include "handler/post_method.h"
#include "handler/writer_method.h"

namespace wsh {

template <const HandlerMethod&... methods>
struct MethodList {
    static constexpr std::size_t count = sizeof...(methods);
    static constexpr const HandlerMethod* records[] = {&methods...};
    static_assert((well_formed(methods) && ...), "a record's tables out of enumerator order");

    // Runs `step.template operator()<method>()` for each method in order,
    // stopping at the first that fails: 0, or -1 with an exception set.
    template <typename Step>
    static int each(Step step) {
        return ((step.template operator()<methods>() == 0) && ...) ? 0 : -1;
    }
};

using HandlerMethods = MethodList<writer_method, get_method, post_method>;

inline constexpr std::size_t handler_method_count = HandlerMethods::count;

// The record of the class's `i`th method.
inline constexpr const HandlerMethod& handler_method(std::size_t i) {
    return *HandlerMethods::records[i];
}

// The methods' definitions, from which their function objects are made
// (one each, in table order; the function objects point at them).
extern std::array<PyMethodDef, handler_method_count> handler_method_definitions;

}  // namespace wsh
