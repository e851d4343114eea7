#include "module/import_statements.h"

#include "module/import_operations.h"
#include "module/source_lines.h"
#include "runtime/runtime_state.h"
#include "string_table_data.h"

namespace wsh {

namespace {

constexpr int max_imported_names = 4;

struct ImportStatement {
    int line;
    StringId module;
    // Null for a plain `import`, else the names of `from ... import`.
    const StringId* names;
    int count;
};

constexpr StringId names_http[] = {s_HTTPStatus};
constexpr StringId names_typing[] = {s_Any, s_Dict, s_List, s_Union};
constexpr StringId names_handlers[] = {s_APIHandler};
constexpr StringId names_zorvik[] = {s_get_joined_workspaces, s_set_joined_workspace};
constexpr StringId names_schemas[] = {s_WorkspaceInfo};
constexpr StringId names_functions[] = {s_parse_zorvik_exception};

template <size_t N>
constexpr ImportStatement from_import(int line, StringId module, const StringId (&names)[N]) {
    static_assert(N <= max_imported_names);
    return {line, module, names, static_cast<int>(N)};
}

constexpr ImportStatement import_statements[] = {
    {module_line("import json"), s_json, nullptr, 0},
    from_import(module_line("from http import"), s_http, names_http),
    from_import(module_line("from typing import"), s_typing, names_typing),
    {module_line("import requests"), s_requests, nullptr, 0},
    {module_line("import tornado"), s_tornado, nullptr, 0},
    from_import(module_line("from jupyter_server.base.handlers import"),
                s_jupyter_server_base_handlers, names_handlers),
    from_import(module_line("from corvanix.zorvik import"), s_corvanix_zorvik, names_zorvik),
    from_import(module_line("from corvanix.zorvik.schemas import"), s_corvanix_zorvik_schemas,
                names_schemas),
    from_import(module_line("from corvanix.server.misc.functions import"),
                s_corvanix_server_misc_functions, names_functions),
};

int run_import_statement(const ImportStatement& statement) {
    PyObject* dict = runtime_state().module_dict.get();
    PyObject* module_name = str(statement.module);
    if (statement.names == nullptr) {
        Ref module = import_module(module_name, nullptr, 0, dict);
        if (!module) return -1;
        return PyDict_SetItem(dict, module_name, module.get());
    }
    PyObject* names[max_imported_names];
    for (int i = 0; i < statement.count; ++i) names[i] = str(statement.names[i]);
    Ref module = import_module(module_name, names, statement.count, dict);
    if (!module) return -1;
    // Names bound before a failing one stay bound.
    for (int i = 0; i < statement.count; ++i) {
        Ref value = import_from(module.get(), names[i]);
        if (!value || PyDict_SetItem(dict, names[i], value.get()) < 0) return -1;
    }
    return 0;
}

}  // namespace

int run_import_statements(int* failed_line) {
    for (const ImportStatement& statement : import_statements) {
        if (run_import_statement(statement) < 0) {
            *failed_line = statement.line;
            return -1;
        }
    }
    return 0;
}

}  // namespace wsh
