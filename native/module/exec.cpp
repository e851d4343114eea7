// The exec hook: runs the module body once per successful load.
#include "handler/handler_state.h"
#include "module/class_def.h"
#include "module/code_objects.h"
#include "module/hooks.h"
#include "module/import_statements.h"
#include "module/source_lines.h"
#include "module/state.h"
#include "module/strings.h"
#include "module/version.h"
#include "runtime/compat.h"
#include "runtime/exception_state.h"
#include "runtime/function.h"
#include "runtime/lookup.h"
#include "runtime/metatype.h"
#include "runtime/registry.h"
#include "runtime/runtime_state.h"
#include "runtime/traceback.h"
#include "runtime/traceback_cache.h"

namespace wsh {

namespace {

// What the runtime reads of this module: its constant table, the entries
// the runtime's own operations use and the file name of its traceback
// entries (the table's text, which lives as long as the table).
int bind_runtime(RuntimeState& rt, const ModuleState& st) {
    rt.strings = st.strings;
    rt.unknown_name = s_question;
    rt.coroutine_marker_name = s_is_coroutine;
    rt.coroutine_module_name = s_asyncio_coroutines;
    rt.source_file_name = PyUnicode_AsUTF8(str(s_source_file));
    return rt.source_file_name != nullptr ? 0 : -1;
}

}  // namespace

// A failure here carries no traceback entry: the entry's file name and the
// code cache's globals come from what this fills.
int init_state(PyObject* module) {
    RuntimeState& rt = runtime_state();
    rt.module_dict = Ref::borrow(PyModule_GetDict(module));
    if (!rt.module_dict) return -1;
    if (watch_dict(rt.module_dict.get()) < 0) return -1;
    rt.builtins_module = Ref::borrow(PyImport_AddModule("builtins"));
    if (!rt.builtins_module) return -1;
    module_state().runtime_module = Ref::borrow(PyImport_AddModule("cython_runtime"));
    if (!module_state().runtime_module) return -1;
    if (PyObject_SetAttrString(module, "__builtins__", rt.builtins_module.get()) < 0) return -1;
    if (check_runtime_version() < 0) return -1;
    rt.empty_tuple = Ref::steal(PyTuple_New(0));
    if (!rt.empty_tuple) return -1;
    rt.empty_bytes = Ref::steal(PyBytes_FromStringAndSize("", 0));
    if (!rt.empty_bytes) return -1;
    rt.empty_str = Ref::steal(PyUnicode_FromStringAndSize("", 0));
    if (!rt.empty_str) return -1;
    if (init_strings(module_state()) < 0) return -1;
    return bind_runtime(rt, module_state());
}

int fetch_shared_types() {
    RuntimeState& rt = runtime_state();
    Ref bases = Ref::steal(PyTuple_Pack(1, reinterpret_cast<PyObject*>(&PyType_Type)));
    if (!bases) return -1;
    rt.common_metatype = fetch_shared_type(nullptr, &common_metatype_spec, bases.get());
    if (!rt.common_metatype) return -1;
    rt.function_type = fetch_shared_type(as<PyTypeObject>(rt.common_metatype),
                                         &function_type_spec, nullptr);
    return rt.function_type ? 0 : -1;
}

namespace {

// Stores the module under its full name unless an entry is there already:
// 1 if stored here, 0 if left alone, -1 on failure.
int register_module(PyObject* module) {
    Ref modules = Ref::borrow(PyImport_GetModuleDict());
    Ref key = Ref::borrow(str(s_module_name));
    Ref existing = Ref::borrow(PyDict_GetItemWithError(modules.get(), key.get()));
    if (existing) return 0;
    if (PyErr_Occurred()) return -1;
    return PyDict_SetItem(modules.get(), key.get(), module) < 0 ? -1 : 1;
}

// A failed load must not leave a half-built module where a later import
// would take it for a finished one.
void unregister_module(PyObject* module) {
    PyThreadState* thread = PyThreadState_Get();
    RaisedException raised = take_raised(thread);
    Ref modules = Ref::borrow(PyImport_GetModuleDict());
    Ref key = Ref::borrow(str(s_module_name));
    Ref entry = Ref::borrow(PyDict_GetItemWithError(modules.get(), key.get()));
    if (entry.get() == module && PyDict_DelItem(modules.get(), key.get()) < 0) PyErr_Clear();
    PyErr_Clear();
    restore_error(thread, std::move(raised));
}

int fail_at(int line) {
    add_traceback(init_function_name, line, runtime_state().source_file_name);
    return -1;
}

// The module body after the re-initialisation guard.
int run_module_body(PyObject* module) {
    ModuleState& st = module_state();
    constexpr int first_line = module_line("module");
    if (init_state(module) < 0) return -1;
    if (init_handler_state() < 0) return fail_at(first_line);
    if (fetch_shared_types() < 0) return fail_at(first_line);
    const int registered = register_module(module);
    if (registered < 0) return fail_at(first_line);
    // From here on a failure also undoes the registration made above.
    auto fail_registered_at = [&](int line) {
        fail_at(line);
        if (registered == 1) unregister_module(module);
        return -1;
    };
    if (make_code_objects(st) < 0) return fail_registered_at(first_line);
    int failed_line = 0;
    if (run_import_statements(&failed_line) < 0) return fail_registered_at(failed_line);
    if (define_handler_class(st, &failed_line) < 0) return fail_registered_at(failed_line);
    Ref test = Ref::steal(PyDict_New());
    if (!test || PyDict_SetItem(runtime_state().module_dict.get(), str(s_test), test.get()) < 0) {
        return fail_registered_at(first_line);
    }
    return 0;
}

}  // namespace

int module_exec(PyObject* module) {
    LoadingStatics& ld = loading_statics();
    if (ld.module_object) {
        if (ld.module_object.get() == module) return 0;
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'workspace_handler' has already been imported. Re-initialisation "
                        "is not supported.");
        return -1;
    }
    ld.module_object = Ref::borrow(module);
    if (run_module_body(module) == 0) return 0;
    ld.module_object.reset();
    // The failure's entry is in its traceback already; a retried import
    // starts with no cached entry named after this one.
    clear_traceback_cache(runtime_state().traceback_code_cache);
    return -1;
}

}  // namespace wsh
