// Internals of the module frame: constant table, code objects, version
// check and traceback entries.
#include <string>

#include "handler/method_table.h"
#include "module/source_lines.h"
#include "module/state.h"
#include "runtime/list.h"
#include "module/version.h"
#include "runtime/runtime_state.h"
#include "runtime/traceback.h"
#include "runtime/traceback_cache.h"
#include "tests/native/testmod.h"

namespace wsh::testmod {

namespace {

PyObject* strings(PyObject*, PyObject*) {
    Ref list = Ref::steal(PyList_New(string_count));
    if (!list) return nullptr;
    for (size_t i = 0; i < string_count; ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), runtime_state().strings[i].new_reference());
    }
    return list.release();
}

PyObject* string_stream_info(PyObject*, PyObject*) {
    Ref lengths = Ref::steal(PyBytes_FromStringAndSize(
        reinterpret_cast<const char*>(string_lengths), static_cast<Py_ssize_t>(string_count)));
    if (!lengths) return nullptr;
    return Py_BuildValue("y#Nn", reinterpret_cast<const char*>(string_stream),
                         static_cast<Py_ssize_t>(sizeof string_stream), lengths.release(),
                         static_cast<Py_ssize_t>(string_data_size));
}

PyObject* code_objects(PyObject*, PyObject*) {
    ModuleState& st = module_state();
    PyObject* codes = PyTuple_New(handler_method_count);
    if (codes == nullptr) return nullptr;
    for (std::size_t m = 0; m < handler_method_count; ++m) {
        PyTuple_SET_ITEM(codes, static_cast<Py_ssize_t>(m), st.method_code[m].new_reference());
    }
    return codes;
}

// The interpreter's own empty code object (first line 1).
PyObject* empty_code(PyObject*, PyObject*) {
    return reinterpret_cast<PyObject*>(PyCode_NewEmpty("", "", 1));
}

PyObject* parse_version_text(PyObject*, PyObject* arg) {
    const char* text = PyUnicode_AsUTF8(arg);
    if (text == nullptr) return nullptr;
    return PyLong_FromUnsignedLong(parse_version(text));
}

PyObject* warn_version(PyObject*, PyObject* arg) {
    const unsigned long packed = PyLong_AsUnsignedLong(arg);
    if (packed == static_cast<unsigned long>(-1) && PyErr_Occurred()) return nullptr;
    if (warn_on_version_mismatch(static_cast<std::uint32_t>(packed)) < 0) return nullptr;
    Py_RETURN_NONE;
}

// raise_with_traceback(exception, function_name, line): raises the exception
// with one entry added.
PyObject* raise_with_traceback(PyObject*, PyObject* args) {
    PyObject* exception;
    const char* function_name;
    int line;
    if (!PyArg_ParseTuple(args, "Osi", &exception, &function_name, &line)) return nullptr;
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception)), exception);
    add_traceback(function_name, line, runtime_state().source_file_name);
    return nullptr;
}

// An entry requested with nothing pending, as after a callee that returned
// null without an exception.
PyObject* traceback_without_exception(PyObject*, PyObject* args) {
    const char* function_name;
    int line;
    if (!PyArg_ParseTuple(args, "si", &function_name, &line)) return nullptr;
    add_traceback(function_name, line, runtime_state().source_file_name);
    return nullptr;
}

PyObject* traceback_cache(PyObject*, PyObject*) {
    const TracebackCodeCache& cache = runtime_state().traceback_code_cache;
    Ref entries = Ref::steal(PyList_New(cache.count));
    if (!entries) return nullptr;
    for (int i = 0; i < cache.count; ++i) {
        PyObject* item = Py_BuildValue("iO", cache.entries[i].line, cache.entries[i].code);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(entries.get(), i, item);
    }
    return Py_BuildValue("iN", cache.capacity, entries.release());
}

PyObject* traceback_cache_position_of(PyObject*, PyObject* arg) {
    const long line = PyLong_AsLong(arg);
    if (line == -1 && PyErr_Occurred()) return nullptr;
    return PyLong_FromLong(
        traceback_cache_position(runtime_state().traceback_code_cache, static_cast<int>(line)));
}

}  // namespace

// source_lines() -> {name: line}: the module's table and the methods'
// records of the lines their traceback entries show. A method's lines are
// named "<method>.<line>", its `def` by the method's name alone.
PyObject* source_lines(PyObject*, PyObject*) {
    Ref lines = Ref::steal(PyDict_New());
    if (!lines) return nullptr;
    auto add = [&](const std::string& name, int at) {
        Ref line = Ref::steal(PyLong_FromLong(at));
        return line && PyDict_SetItemString(lines.get(), name.c_str(), line.get()) == 0;
    };
    for (const SourceLine& entry : module_source_lines) {
        if (!add(std::string(entry.name), entry.line)) return nullptr;
    }
    for (const HandlerMethod* method : HandlerMethods::records) {
        const std::string name = method->signature.plain_name;
        if (!add(name, method->signature.def_line)) return nullptr;
        for (const SourceLine& entry : method->lines) {
            if (!add(name + "." + std::string(entry.name), entry.line)) return nullptr;
        }
    }
    return lines.release();
}

// method_reads() -> [[(global, attribute, ...), ...], ...]: what each
// reading place of each method's record reads, in the method table's and
// the enumerators' order.
PyObject* method_reads(PyObject*, PyObject*) {
    Ref methods = list_with_room(handler_method_count);
    if (!methods) return nullptr;
    for (const HandlerMethod* method : HandlerMethods::records) {
        Ref reads = list_with_room(static_cast<Py_ssize_t>(method->reads.size()));
        if (!reads) return nullptr;
        for (const GlobalRead& read : method->reads) {
            Ref names = names_tuple(std::span(read.names.data(), read.links + 1));
            if (!names || list_append(reads.get(), std::move(names)) < 0) return nullptr;
        }
        if (list_append(methods.get(), std::move(reads)) < 0) return nullptr;
    }
    return methods.release();
}

PyMethodDef frame_methods[] = {
    {"source_lines", source_lines, METH_NOARGS, nullptr},
    {"method_reads", method_reads, METH_NOARGS, nullptr},
    {"strings", strings, METH_NOARGS, nullptr},
    {"string_stream_info", string_stream_info, METH_NOARGS, nullptr},
    {"code_objects", code_objects, METH_NOARGS, nullptr},
    {"empty_code", empty_code, METH_NOARGS, nullptr},
    {"parse_version", parse_version_text, METH_O, nullptr},
    {"warn_version", warn_version, METH_O, nullptr},
    {"raise_with_traceback", raise_with_traceback, METH_VARARGS, nullptr},
    {"traceback_without_exception", traceback_without_exception, METH_VARARGS, nullptr},
    {"traceback_cache", traceback_cache, METH_NOARGS, nullptr},
    {"traceback_cache_position", traceback_cache_position_of, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace wsh::testmod
