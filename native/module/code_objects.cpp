#include "module/code_objects.h"

#include <algorithm>

#include "handler/method_table.h"
#include "runtime/compat.h"
#include "runtime/runtime_state.h"
#include "string_table_data.h"

namespace wsh {

namespace {

constexpr int co_flags_new_function = CO_OPTIMIZED | CO_NEWLOCALS;

// A method of positional-or-keyword parameters only, starting at its `def`.
constexpr CodeShape method_shape(const HandlerMethod& method) {
    return {static_cast<int>(method.signature.parameters.size()), 0, 0, co_flags_new_function,
            method.signature.def_line};
}

constexpr std::size_t max_locals = [] {
    std::size_t most = 0;
    for (const HandlerMethod* method : HandlerMethods::records) {
        most = std::max(most, method->locals.size());
    }
    return most;
}();

}  // namespace

Ref make_code_object(const CodeShape& shape, std::span<PyObject* const> locals,
                     PyObject* file_name, PyObject* name, PyObject* dedup) {
    const auto nlocals = static_cast<Py_ssize_t>(locals.size());
    Ref varnames = Ref::steal(PyTuple_New(nlocals));
    if (!varnames) return varnames;
    for (Py_ssize_t i = 0; i < nlocals; ++i) {
        PyTuple_SET_ITEM(varnames.get(), i, new_reference(locals[static_cast<std::size_t>(i)]));
    }
    // Borrowed from the dedup dictionary, which keeps it alive.
    PyObject* chosen = PyDict_SetDefault(dedup, varnames.get(), varnames.get());
    if (chosen == nullptr) return Ref();

    RuntimeState& rt = runtime_state();
    return Ref::steal(reinterpret_cast<PyObject*>(compat::new_code(
        shape.argcount, shape.posonly_argcount, shape.kwonly_argcount, static_cast<int>(nlocals),
        0, shape.flags, rt.empty_bytes.get(), rt.empty_tuple.get(), rt.empty_tuple.get(), chosen,
        rt.empty_tuple.get(), rt.empty_tuple.get(), file_name, name, shape.first_line,
        rt.empty_bytes.get())));
}

int make_code_objects(ModuleState& st) {
    Ref dedup = Ref::steal(PyDict_New());
    if (!dedup) return -1;
    for (std::size_t m = 0; m < handler_method_count; ++m) {
        const HandlerMethod& method = handler_method(m);
        PyObject* locals[max_locals];
        for (std::size_t i = 0; i < method.locals.size(); ++i) locals[i] = str(method.locals[i]);
        Ref code = make_code_object(method_shape(method), std::span(locals, method.locals.size()),
                                    str(s_source_file), str(method.name), dedup.get());
        if (!code) return -1;
        st.method_code[m] = std::move(code);
    }
    return 0;
}

}  // namespace wsh
