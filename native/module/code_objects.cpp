#include "module/code_objects.h"

#include <algorithm>
#include <iterator>

#include "handler/source_lines.h"
#include "runtime/compat.h"
#include "runtime/runtime_state.h"
#include "string_table_data.h"

namespace wsh {

namespace {

constexpr int co_flags_new_function = CO_OPTIMIZED | CO_NEWLOCALS;

struct MethodCode {
    CodeShape shape;
    StringId name;
    std::span<const StringId> locals;  // the parameters first
    Ref ModuleState::*field;
};

constexpr StringId locals_finish_with_result[] = {s_self, s_status_code, s_result};
constexpr StringId locals_get[] = {s_self,        s_joined_workspaces, s_exp,
                                   s_status_code, s_message,           s_e,
                                   s_workspaces,  s_workspace};
constexpr StringId locals_post[] = {s_self,        s_data,    s_workspace_id, s_exp,
                                    s_status_code, s_message, s_e};

// A method of positional-or-keyword parameters only, starting at its `def`.
constexpr CodeShape method_shape(int argcount, int def_line) {
    return {argcount, 0, 0, co_flags_new_function, def_line};
}

constexpr MethodCode method_codes[] = {
    {method_shape(3, handler_line("_finish_with_result")), s_finish_with_result,
     locals_finish_with_result, &ModuleState::code_finish_with_result},
    {method_shape(1, handler_line("get")), s_get, locals_get, &ModuleState::code_get},
    {method_shape(1, handler_line("post")), s_post, locals_post, &ModuleState::code_post},
};

constexpr std::size_t max_locals =
    std::max({std::size(locals_finish_with_result), std::size(locals_get), std::size(locals_post)});

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
    for (const MethodCode& method : method_codes) {
        PyObject* locals[max_locals];
        for (std::size_t i = 0; i < method.locals.size(); ++i) locals[i] = str(method.locals[i]);
        Ref code = make_code_object(method.shape, std::span(locals, method.locals.size()),
                                    str(s_source_file), str(method.name), dedup.get());
        if (!code) return -1;
        st.*method.field = std::move(code);
    }
    return 0;
}

}  // namespace wsh
