#include "tests/native/testmod.h"

#include "handler/handler_state.h"
#include "module/code_objects.h"
#include "module/hooks.h"
#include "module/state.h"
#include "runtime/compat.h"

namespace wsh::testmod {

namespace {

PyMethodDef* const method_tables[] = {
    frame_methods,
    registry_methods,
    function_methods,
    calls_methods,
    lookup_methods,
    exceptions_methods,
    unpack_methods,
    text_methods,
    argparse_methods,
};

// The test module's own copy of the module state, filled like the real
// module's exec hook does (it is a separate shared object).
int testmod_exec(PyObject* module) {
    if (init_state(module) < 0) return -1;
    if (init_handler_state() < 0) return -1;
    if (fetch_shared_types() < 0) return -1;
    if (make_code_objects(module_state()) < 0) return -1;
    for (PyMethodDef* table : method_tables) {
        if (PyModule_AddFunctions(module, table) < 0) return -1;
    }
    return 0;
}

PyModuleDef_Slot testmod_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(testmod_exec)},
    {0, nullptr},
};

PyModuleDef testmod_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "_wsh_testmod",
    .m_doc = nullptr,
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = testmod_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace

}  // namespace wsh::testmod

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__wsh_testmod() { return PyModuleDef_Init(&wsh::testmod::testmod_def); }
