#include "module/strings.h"

namespace wsh {

namespace {

Ref import_decompress() {
    Ref zlib = Ref::steal(PyImport_ImportModule("zlib"));
    Ref decompress;
    if (zlib) decompress = Ref::steal(PyObject_GetAttrString(zlib.get(), "decompress"));
    if (!decompress) {
        PyErr_Format(PyExc_ImportError,
                     "Failed to import '%.20s.decompress' - cannot initialise module strings. "
                     "String compression was configured with the C macro "
                     "'CYTHON_COMPRESS_STRINGS=%d'.",
                     "zlib", 1);
    }
    return decompress;
}

Ref decompress_table() {
    Ref decompress = import_decompress();
    if (!decompress) return Ref();
    Ref view = Ref::steal(PyMemoryView_FromMemory(
        reinterpret_cast<char*>(const_cast<unsigned char*>(string_stream)),
        static_cast<Py_ssize_t>(sizeof string_stream), PyBUF_READ));
    if (!view) return Ref();
    Ref data = Ref::steal(PyObject_CallFunctionObjArgs(decompress.get(), view.get(), nullptr));
    if (!data) return Ref();
    // Whatever `zlib.decompress` is, the walk below reads exactly this many
    // bytes and no more.
    if (!PyBytes_Check(data.get()) ||
        PyBytes_GET_SIZE(data.get()) != static_cast<Py_ssize_t>(string_data_size)) {
        PyErr_Format(PyExc_ImportError,
                     "cannot initialise module strings: zlib.decompress returned %.200s "
                     "of %zd bytes, expected bytes of %zd bytes",
                     Py_TYPE(data.get())->tp_name,
                     PyBytes_Check(data.get()) ? PyBytes_GET_SIZE(data.get()) : Py_ssize_t{-1},
                     static_cast<Py_ssize_t>(string_data_size));
        return Ref();
    }
    return data;
}

}  // namespace

int init_strings(ModuleState& st) {
    Ref data = decompress_table();
    if (!data) return -1;
    const char* bytes = PyBytes_AS_STRING(data.get());
    size_t offset = 0;
    for (size_t i = 0; i < string_count; ++i) {
        const char* entry = bytes + offset;
        const auto length = static_cast<Py_ssize_t>(string_lengths[i]);
        offset += string_lengths[i];
        if (i >= string_text_count) {
            Ref b = Ref::steal(PyBytes_FromStringAndSize(entry, length));
            if (!b) return -1;
            st.strings[i] = std::move(b);
            continue;
        }
        PyObject* s = PyUnicode_DecodeUTF8(entry, length, "strict");
        if (s == nullptr) return -1;
        // Interning may hand back the already interned equal string.
        if (i >= string_first_interned) PyUnicode_InternInPlace(&s);
        st.strings[i] = Ref::steal(s);
    }
    for (size_t i = 0; i < string_count; ++i) {
        if (PyObject_Hash(st.strings[i].get()) == -1) return -1;
    }
    return 0;
}

}  // namespace wsh
