// A handler method's record: everything the module makes of a method besides
// its body. Each record sits beside its body (writer_method.h by writer.cpp,
// get_method.h by get.cpp, post_method.h by post.cpp); method_table.h lists
// them in the class's order. Made from the records: the method definitions
// and fast-call entries, the code objects, the class attributes, the caches
// of the reading places and the keyword-name tuples the bodies use, and the
// test module's tables.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <utility>
#include <cstdlib>

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

// What one reading place of a method reads: a module global and the
// attributes read after it (requests.exceptions.ConnectionError), tagged
// with the place's enumerator.
struct GlobalRead {
    static constexpr std::size_t most_links = ReadingPlace::attribute_chain_length;

    template <typename... Attributes>
    constexpr GlobalRead(int tag, StringId global_name, Attributes... attribute_names)
        : place(tag), names{global_name, attribute_names...}, links(sizeof...(attribute_names)) {
        static_assert(sizeof...(attribute_names) <= most_links);
    }

    constexpr StringId global() const { return names[0]; }

    int place;
    std::array<StringId, 1 + most_links> names;  // the global, then its attributes
    std::size_t links;
};

// The keyword names of one keyword call the body makes, in call order,
// tagged with the call's enumerator.
struct KeywordCall {
    int call;
    std::span<const StringId> names;
};

// The entry point a method definition names (METH_FASTCALL | METH_KEYWORDS).
using MethodWrapper = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

struct HandlerMethod {
    const MethodSignature& signature;  // parameters, names shown, the line of its `def`
    std::span<const SourceLine> lines;  // the body's lines its traceback entries show
    StringId name;
    StringId qualname;
    const char* doc;                          // null for none
    std::span<const StringId> locals;         // of its code object, the parameters first
    std::span<const Annotation> annotations;  // in insertion order
    bool decorated;                           // stored as tornado.web.authenticated(function)
    std::span<const GlobalRead> reads;        // its reading places, in enumerator order
    std::span<const KeywordCall> keyword_calls;  // in enumerator order
    MethodWrapper wrapper;
    vectorcallfunc fast_entry;  // of its function object

    // The body's line named `line_name` (compile time only).
    consteval int line(std::string_view line_name) const { return line_in(lines, line_name); }

    // Adds the method's traceback entry for a failure at `at` and returns an
    // empty handle.
    Ref fail(int at) const { return signature.fail(at); }
};

// Whether each entry is tagged with its own index: a record's tables are
// indexed by its enumerators.
template <typename Entry, auto tag>
consteval bool in_enumerator_order(std::span<const Entry> entries) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (static_cast<std::size_t>(entries[i].*tag) != i) return false;
    }
    return true;
}

// Asserted of every record by the method table.
consteval bool well_formed(const HandlerMethod& method) {
    return in_enumerator_order<GlobalRead, &GlobalRead::place>(method.reads) &&
           in_enumerator_order<KeywordCall, &KeywordCall::call>(method.keyword_calls);
}

// --- Reading places -------------------------------------------------------

// The caches of a method's reading places, one per place.
template <const HandlerMethod& method>
inline constinit std::array<ReadingPlace, method.reads.size()> reading_places{};

// A reading place handed to code shared by several methods (the except
// clauses): its caches and what it reads, which has `links` attributes.
template <std::size_t links>
struct Place {
    ReadingPlace& caches;
    const GlobalRead& read;
};

// Place `where` of `method`; one that reads other than `links` attributes
// does not compile.
template <const HandlerMethod& method, std::size_t links>
consteval Place<links> place_of(int where) {
    const GlobalRead& read = method.reads[static_cast<std::size_t>(where)];
    if (read.links != links) std::abort();  // not a constant expression: refused
    return {reading_places<method>[static_cast<std::size_t>(where)], read};
}

// The value `place` reads, through its caches: a new reference, or an empty
// handle with an exception set.
template <std::size_t links>
inline Ref read_place(const Place<links>& place) {
    if constexpr (links == 0) {
        return read_global(place.read.global(), place.caches);
    } else {
        if (Borrowed value = cached_chain<links>(place.caches)) return Ref::borrow(value);
        return read_dotted_uncached(place.caches, place.read.global(),
                                    std::span(place.read.names.data() + 1, links));
    }
}

// The value place `where` of `method` reads, its names constants here.
template <const HandlerMethod& method, int where>
inline Ref read_at() {
    constexpr GlobalRead read = method.reads[where];
    ReadingPlace& caches = reading_places<method>[where];
    if constexpr (read.links == 0) {
        return read_global(read.global(), caches);
    } else {
        return [&]<std::size_t... i>(std::index_sequence<i...>) {
            return read_dotted(caches, read.global(), read.names[1 + i]...);
        }(std::make_index_sequence<read.links>());
    }
}

// --- Keyword calls ----------------------------------------------------------

// The keyword-name tuples of a method's keyword calls, made once the constant
// table exists (init_method_keywords) and never released.
template <const HandlerMethod& method>
inline constinit NeverDestroyed<std::array<Ref, method.keyword_calls.size()>> keyword_tuples;

template <const HandlerMethod& method>
inline PyObject* keyword_names(int call) noexcept {
    return keyword_tuples<method>.get()[static_cast<std::size_t>(call)].get();
}

// A new tuple of the constant-table names `names`, or an empty handle.
Ref names_tuple(std::span<const StringId> names);

template <const HandlerMethod& method>
int init_method_keywords() {
    auto& tuples = keyword_tuples<method>.get();
    for (std::size_t i = 0; i < tuples.size(); ++i) {
        tuples[i] = names_tuple(method.keyword_calls[i].names);
        if (!tuples[i]) return -1;
    }
    return 0;
}

}  // namespace wsh
