// Binding a method's fast-call arguments to its parameters by Python's
// rules, with the interpreter's messages.
//
// Every parameter of the module's methods is positional-or-keyword and
// required; none has a default and none collects extra arguments.
#pragma once

#include <Python.h>

#include <cstddef>
#include <span>
#include <utility>

#include "runtime/call.h"
#include "runtime/compat.h"
#include "runtime/recursion_guard.h"
#include "runtime/ref.h"
#include "runtime/runtime_state.h"
#include "runtime/traceback.h"

namespace wsh {

struct MethodSignature {
    std::span<const StringId> parameters;  // interned constant-table names, in order
    const char* plain_name;                // in messages: "get() takes ..."
    const char* traceback_name;            // module-qualified dotted name
    int def_line;                          // the line of the method's `def`

    // Adds the method's traceback entry for a failure at `line` and returns
    // an empty handle: `return signature.fail(line);` leaves the body with it.
    Ref fail(int line) const {
        add_traceback(traceback_name, line, runtime_state().source_file_name);
        return Ref();
    }
};

// Matches an exact-str keyword against the parameters by hash, length,
// character width and code units: 1 with its index, 0 when none has that
// name, -1 with an exception set (also when it names a parameter before
// `first_keyword_parameter`, which was given by position).
int match_keyword_str(PyObject* key, std::span<const StringId> parameter_names,
                      Py_ssize_t first_keyword_parameter, Py_ssize_t* index_out,
                      const char* function_name);

// Stores new references to the keyword values into the slots of `values`
// that their names select; slots below `positional_count` are filled
// already. 0, or -1 with an exception set (filled slots stay filled).
int parse_keywords(PyObject* keyword_names, PyObject* const* keyword_values,
                   std::span<const StringId> parameter_names, Ref* values,
                   Py_ssize_t positional_count, Py_ssize_t keyword_count,
                   const char* function_name);

// Fills values[0..N) (empty on entry) from a fast call's arguments. On
// failure releases them, adds the method's traceback entry at its `def`
// line and returns -1.
int bind_arguments(const MethodSignature& signature, PyObject* const* args, std::size_t nargsf,
                   PyObject* keyword_names, Ref* values);

// Whether the keyword names are the parameters' own (interned) names from
// parameter `first` on, in parameter order: one comparison per keyword,
// written out.
template <const MethodSignature& signature, std::size_t first>
inline bool keywords_in_order(PyObject* keyword_names) {
    constexpr std::size_t count = signature.parameters.size();
    return [&]<std::size_t... i>(std::index_sequence<i...>) {
        return ((PyTuple_GET_ITEM(keyword_names, i) == str(signature.parameters[first + i])) &&
                ...);
    }(std::make_index_sequence<count - first>());
}

// Whether a call binds to the parameters in order without matching: the
// first `nargs` by position and the rest by keywords whose names are the
// parameters' own (interned) names, in parameter order. The values are then
// the call's values as they stand.
template <const MethodSignature& signature>
inline bool binds_in_order(std::size_t nargs, PyObject* keyword_names) {
    constexpr std::size_t count = signature.parameters.size();
    const std::size_t keyword_count =
        keyword_names == nullptr ? 0 : static_cast<std::size_t>(PyTuple_GET_SIZE(keyword_names));
    if (nargs + keyword_count != count) return false;
    return [&]<std::size_t... first>(std::index_sequence<first...>) {
        return ((nargs == first && keywords_in_order<signature, first>(keyword_names)) || ...);
    }(std::make_index_sequence<count + 1>());
}

// The wrapper's call when the arguments need matching: binds them into
// values held here until the body returns. Apart from the wrapper, so that
// the common call needs no frame of its own.
template <const MethodSignature& signature, auto body>
[[gnu::noinline]] PyObject* call_with_bound_arguments(PyObject* function, PyObject* const* args,
                                                      std::size_t nargsf, PyObject* keyword_names) {
    constexpr std::size_t count = signature.parameters.size();
    Ref values[count];
    if (bind_arguments(signature, args, nargsf, keyword_names, values) < 0) return nullptr;
    return [&]<std::size_t... i>(std::index_sequence<i...>) {
        return body(function, values[i].get()...).release();
    }(std::make_index_sequence<count>());
}

// A method's entry point (METH_FASTCALL | METH_KEYWORDS), also inlined into
// its function object's own entry below: binds the arguments and calls
// `body` with the function and one value per parameter. The body adds its own
// traceback entries. Values bound in order are the caller's, which it holds
// for the whole call; values bound by matching keywords are held until the
// body returns.
template <const MethodSignature& signature, auto body>
[[gnu::always_inline]] inline PyObject* method_wrapper(PyObject* function, PyObject* const* args,
                                                       Py_ssize_t nargsf, PyObject* keyword_names) {
    constexpr std::size_t count = signature.parameters.size();
    const auto nargs = static_cast<std::size_t>(positional_count(static_cast<std::size_t>(nargsf)));
    if (binds_in_order<signature>(nargs, keyword_names)) [[likely]] {
        return [&]<std::size_t... i>(std::index_sequence<i...>) {
            return body(function, args[i]...).release();
        }(std::make_index_sequence<count>());
    }
    return call_with_bound_arguments<signature, body>(function, args,
                                                      static_cast<std::size_t>(nargsf),
                                                      keyword_names);
}

// The function object's own fast-call entry for a method: the recursion
// guard, the binding and the body in one frame, where the entry chosen by
// the call convention would reach the wrapper through the definition.
// `function` is the function object, which is its own m_self.
template <const MethodSignature& signature, auto body>
PyObject* method_fast_entry(PyObject* function, PyObject* const* args, std::size_t nargsf,
                            PyObject* keyword_names) {
    return call_guarded([&] {
        return method_wrapper<signature, body>(function, args, static_cast<Py_ssize_t>(nargsf),
                                               keyword_names);
    });
}

}  // namespace wsh
