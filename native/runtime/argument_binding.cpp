#include "runtime/argument_binding.h"

#include <cstring>

#include "runtime/call.h"
#include "runtime/compat.h"
#include "runtime/traceback.h"

namespace wsh {

namespace {

void raise_positional_count(const MethodSignature& signature, Py_ssize_t given) {
    const Py_ssize_t expected = static_cast<Py_ssize_t>(signature.parameters.size());
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 signature.plain_name, "exactly", expected, expected == 1 ? "" : "s", given);
}

void raise_multiple_values(const char* function_name, PyObject* key) {
    PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'",
                 function_name, key);
}

bool same_str(PyObject* name, PyObject* key, Py_hash_t key_hash) {
    const auto kind = PyUnicode_KIND(key);
    const Py_ssize_t length = PyUnicode_GET_LENGTH(key);
    return compat::str_cached_hash(name) == key_hash && PyUnicode_GET_LENGTH(name) == length &&
           PyUnicode_KIND(name) == kind &&
           std::memcmp(PyUnicode_DATA(name), PyUnicode_DATA(key),
                       static_cast<size_t>(length) * kind) == 0;
}

Borrowed parameter_name(std::span<const StringId> parameter_names, Py_ssize_t index) {
    return str(parameter_names[static_cast<std::size_t>(index)]);
}

// The keyword matching of match_keyword_str, with `equal(name)` (1 for the
// key's parameter, 0 for another, -1 with an exception set) as the test.
template <typename Equal>
int match_keyword(PyObject* key, std::span<const StringId> parameter_names,
                  Py_ssize_t first_keyword_parameter, Py_ssize_t* index_out,
                  const char* function_name, Equal equal) {
    const Py_ssize_t count = static_cast<Py_ssize_t>(parameter_names.size());
    for (Py_ssize_t j = first_keyword_parameter; j < count; ++j) {
        const int found = equal(parameter_name(parameter_names, j));
        if (found != 0) {
            *index_out = j;
            return found;
        }
    }
    for (Py_ssize_t j = 0; j < first_keyword_parameter; ++j) {
        const int found = equal(parameter_name(parameter_names, j));
        if (found < 0) return -1;
        if (found > 0) {
            raise_multiple_values(function_name, key);
            return -1;
        }
    }
    return 0;
}

Py_ssize_t find_by_identity(PyObject* key, std::span<const StringId> parameter_names,
                            Py_ssize_t first_keyword_parameter) {
    const Py_ssize_t count = static_cast<Py_ssize_t>(parameter_names.size());
    for (Py_ssize_t j = first_keyword_parameter; j < count; ++j) {
        if (parameter_name(parameter_names, j) == key) return j;
    }
    return -1;
}

}  // namespace

int match_keyword_str(PyObject* key, std::span<const StringId> parameter_names,
                      Py_ssize_t first_keyword_parameter, Py_ssize_t* index_out,
                      const char* function_name) {
    if (compat::str_ready(key) < 0) return -1;
    Py_hash_t hash = compat::str_cached_hash(key);
    if (hash == -1) {
        hash = PyObject_Hash(key);
        if (hash == -1) return -1;
    }
    return match_keyword(key, parameter_names, first_keyword_parameter, index_out, function_name,
                         [&](PyObject* name) { return same_str(name, key, hash) ? 1 : 0; });
}

int parse_keywords(PyObject* keyword_names, PyObject* const* keyword_values,
                   std::span<const StringId> parameter_names, Ref* values,
                   Py_ssize_t positional_count, Py_ssize_t keyword_count,
                   const char* function_name) {
    for (Py_ssize_t i = 0; i < keyword_count; ++i) {
        PyObject* key = PyTuple_GET_ITEM(keyword_names, i);
        Py_ssize_t index = find_by_identity(key, parameter_names, positional_count);
        if (index < 0) {
            int found;
            if (PyUnicode_CheckExact(key)) {
                found = match_keyword_str(key, parameter_names, positional_count, &index,
                                          function_name);
            } else if (PyUnicode_Check(key)) {
                // Compared with ==: the subclass's own __eq__ may run.
                found = match_keyword(key, parameter_names, positional_count, &index,
                                      function_name, [&](PyObject* name) {
                                          return PyObject_RichCompareBool(key, name, Py_EQ);
                                      });
            } else {
                PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", function_name);
                return -1;
            }
            if (found < 0) return -1;
            if (found == 0) {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                             function_name, key);
                return -1;
            }
        }
        // A names tuple from a native caller (or a dict whose str-subclass
        // key equals a str key) can name one parameter twice: neither value
        // may silently win.
        if (values[index]) {
            raise_multiple_values(function_name, key);
            return -1;
        }
        values[index] = Ref::borrow(keyword_values[i]);
    }
    return 0;
}

int bind_arguments(const MethodSignature& signature, PyObject* const* args, std::size_t nargsf,
                   PyObject* keyword_names, Ref* values) {
    const Py_ssize_t count = static_cast<Py_ssize_t>(signature.parameters.size());
    const Py_ssize_t nargs = positional_count(nargsf);
    const Py_ssize_t keyword_count = keyword_names ? PyTuple_GET_SIZE(keyword_names) : 0;
    auto fail = [&] {
        for (Py_ssize_t i = 0; i < count; ++i) values[i].reset();
        signature.fail(signature.def_line);
        return -1;
    };
    if (keyword_count > 0 ? nargs > count : nargs != count) {
        raise_positional_count(signature, nargs);
        return fail();
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) values[i] = Ref::borrow(args[i]);
    if (keyword_count == 0) return 0;
    if (parse_keywords(keyword_names, args + nargs, signature.parameters, values, nargs,
                       keyword_count, signature.plain_name) < 0) {
        return fail();
    }
    for (Py_ssize_t i = nargs; i < count; ++i) {
        if (!values[i]) {
            raise_positional_count(signature, i);
            return fail();
        }
    }
    return 0;
}

}  // namespace wsh
