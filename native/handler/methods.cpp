#include "handler/methods.h"

#include "handler/method_bodies.h"
#include "handler/signatures.h"
#include "runtime/argument_binding.h"

namespace wsh {

namespace {

template <typename Entry>
PyCFunction entry_point(Entry entry) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry));
}

constexpr int fast_with_keywords = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

PyMethodDef finish_with_result_method = {
    "_finish_with_result",
    entry_point(method_wrapper<finish_with_result_signature, finish_with_result_body>),
    fast_with_keywords,
    nullptr,
};

PyMethodDef get_method = {
    "get",
    entry_point(method_wrapper<get_signature, get_body>),
    fast_with_keywords,
    "\n        GET method to retrieve connected workspaces.\n        ",
};

PyMethodDef post_method = {
    "post",
    entry_point(method_wrapper<post_signature, post_body>),
    fast_with_keywords,
    "\n        POST method to set workspace id.\n        ",
};

const vectorcallfunc finish_with_result_vectorcall =
    method_vectorcall<finish_with_result_signature, finish_with_result_body>;
const vectorcallfunc get_vectorcall = method_vectorcall<get_signature, get_body>;
const vectorcallfunc post_vectorcall = method_vectorcall<post_signature, post_body>;

}  // namespace wsh
