#include "module/code_objects.h"

#include "handler/source_lines.h"
#include "runtime/compat.h"
#include "runtime/runtime_state.h"

namespace wsh {

namespace {

constexpr unsigned co_flags_new_function = CO_OPTIMIZED | CO_NEWLOCALS;

struct CodeObjectSpec {
    std::uint32_t word;
    StringId name;
    const StringId* locals;
    Ref ModuleState::*field;
};

constexpr StringId locals_finish_with_result[] = {s_self, s_status_code, s_result};
constexpr StringId locals_get[] = {s_self,        s_joined_workspaces, s_exp,
                                   s_status_code, s_message,           s_e,
                                   s_workspaces,  s_workspace};
constexpr StringId locals_post[] = {s_self,        s_data,    s_workspace_id, s_exp,
                                    s_status_code, s_message, s_e};

template <std::size_t N>
constexpr std::uint32_t method_code_word(unsigned argcount, const StringId (&)[N],
                                         int def_line) {
    return code_word(argcount, 0, 0, static_cast<unsigned>(N), co_flags_new_function,
                     static_cast<unsigned>(def_line));
}

constexpr CodeObjectSpec code_object_specs[] = {
    {method_code_word(3, locals_finish_with_result, handler_line("_finish_with_result")),
     s_finish_with_result, locals_finish_with_result, &ModuleState::code_finish_with_result},
    {method_code_word(1, locals_get, handler_line("get")), s_get, locals_get,
     &ModuleState::code_get},
    {method_code_word(1, locals_post, handler_line("post")), s_post, locals_post,
     &ModuleState::code_post},
};

static_assert(code_object_specs[0].word == 0x880333);
static_assert(code_object_specs[1].word == 0xB00381);
static_assert(code_object_specs[2].word == 0x1080371);

constexpr int max_locals = 15;

}  // namespace

PyObject* make_code_object(std::uint32_t word, PyObject* const* locals, PyObject* file_name,
                           PyObject* name, PyObject* dedup) {
    const int argcount = static_cast<int>(word & 0x3);
    const int posonly = static_cast<int>((word >> 2) & 0x1);
    const int kwonly = static_cast<int>((word >> 3) & 0x1);
    const int nlocals = static_cast<int>((word >> 4) & 0xF);
    const int flags = static_cast<int>((word >> 8) & 0x3FF);
    const int firstlineno = static_cast<int>((word >> 18) & 0x7F);

    Ref varnames = Ref::steal(PyTuple_New(nlocals));
    if (!varnames) return nullptr;
    for (int i = 0; i < nlocals; ++i) {
        PyTuple_SET_ITEM(varnames.get(), i, new_reference(locals[i]));
    }
    // Borrowed from the dedup dictionary, which keeps it alive.
    PyObject* chosen = PyDict_SetDefault(dedup, varnames.get(), varnames.get());
    if (chosen == nullptr) return nullptr;

    RuntimeState& rt = runtime_state();
    return reinterpret_cast<PyObject*>(compat::new_code(
        argcount, posonly, kwonly, nlocals, 0, flags, rt.empty_bytes.get(), rt.empty_tuple.get(),
        rt.empty_tuple.get(), chosen, rt.empty_tuple.get(), rt.empty_tuple.get(), file_name, name,
        firstlineno, rt.empty_bytes.get()));
}

int make_code_objects(ModuleState& st) {
    Ref dedup = Ref::steal(PyDict_New());
    if (!dedup) return -1;
    for (const CodeObjectSpec& spec : code_object_specs) {
        PyObject* locals[max_locals];
        const auto count = (spec.word >> 4) & 0xF;
        for (unsigned i = 0; i < count; ++i) locals[i] = str(spec.locals[i]);
        Ref code = Ref::steal(make_code_object(spec.word, locals, str(s_source_file),
                                               str(spec.name), dedup.get()));
        if (!code) return -1;
        st.*spec.field = std::move(code);
    }
    return 0;
}

}  // namespace wsh
