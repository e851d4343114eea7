// A handler method's record: everything the module makes of a method besides
// its body. Each record sits beside its body (writer_method.h by writer.cpp,
// get_method.h by get.cpp, post_method.h by post.cpp); method_table.h lists
// them in the class's order. The method definitions and fast-call entries,
// the code objects, the class attributes, the reading places and keyword-name
// tuples the body uses, and the test module's tables of source lines are
// all made from the records.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "runtime/argument_binding.h"
#include "runtime/lookup.h"
#include "runtime/never_destroyed.h"
#include "runtime/ref.h"
#include "runtime/runtime_state.h"
#include "runtime/source_line.h"

namespace wsh {

// One entry of a method's __annotations__: a parameter (or "return") and its
// text, neither evaluated.
struct Annotation {
    StringId name;
    StringId text;
};

// The keyword names of one keyword call the body makes, in call order.
using KeywordNames = std::span<const StringId>;

// The entry point a method definition names (METH_FASTCALL | METH_KEYWORDS).
using MethodWrapper = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

struct HandlerMethod {
    const MethodSignature& signature;  // parameters, names shown, the line of its `def`
    std::span<const SourceLine> lines;  // the body's lines its traceback entries show
    StringId name;
    StringId qualname;
    const char* doc;                           // null for none
    std::span<const StringId> locals;          // of its code object, the parameters first
    std::span<const Annotation> annotations;   // in insertion order
    bool decorated;                            // stored as tornado.web.authenticated(function)
    std::size_t place_count;                   // its reading places, named by its own enum
    std::span<const KeywordNames> keyword_calls;  // named by its own enum
    MethodWrapper wrapper;
    vectorcallfunc fast_entry;  // of its function object

    // The body's line named `line_name` (compile time only).
    consteval int line(std::string_view line_name) const { return line_in(lines, line_name); }

    // Adds the method's traceback entry for a failure at `at` and returns an
    // empty handle.
    Ref fail(int at) const { return signature.fail(at); }
};

// The caches of a method's reading places, one per place.
template <const HandlerMethod& method>
inline constinit std::array<ReadingPlace, method.place_count> reading_places{};

template <const HandlerMethod& method>
constexpr ReadingPlace& reading_place(int where) noexcept {
    return reading_places<method>[static_cast<std::size_t>(where)];
}

// The keyword-name tuples of a method's keyword calls, made once the constant
// table exists (init_method_keywords) and never released.
template <const HandlerMethod& method>
inline constinit NeverDestroyed<std::array<Ref, method.keyword_calls.size()>> keyword_tuples;

template <const HandlerMethod& method>
inline PyObject* keyword_names(int call) noexcept {
    return keyword_tuples<method>.get()[static_cast<std::size_t>(call)].get();
}

// A new tuple of the constant-table names `names`, or an empty handle.
Ref names_tuple(KeywordNames names);

template <const HandlerMethod& method>
int init_method_keywords() {
    auto& tuples = keyword_tuples<method>.get();
    for (std::size_t i = 0; i < tuples.size(); ++i) {
        tuples[i] = names_tuple(method.keyword_calls[i]);
        if (!tuples[i]) return -1;
    }
    return 0;
}

}  // namespace wsh
