#include "handler/methods.h"

#include "handler/method_bodies.h"
#include "handler/signatures.h"
#include "runtime/argument_binding.h"
#include "runtime/function.h"

namespace wsh {

namespace {

constexpr int fast_with_keywords = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

PyMethodDef finish_with_result_method = {
    "_finish_with_result",
    stored_entry_point(method_wrapper<finish_with_result_signature, finish_with_result_body>),
    fast_with_keywords,
    nullptr,
};

PyMethodDef get_method = {
    "get",
    stored_entry_point(method_wrapper<get_signature, get_body>),
    fast_with_keywords,
    "\n        GET method to retrieve connected workspaces.\n        ",
};

PyMethodDef post_method = {
    "post",
    stored_entry_point(method_wrapper<post_signature, post_body>),
    fast_with_keywords,
    "\n        POST method to set workspace id.\n        ",
};

const vectorcallfunc finish_with_result_fast_entry =
    method_fast_entry<finish_with_result_signature, finish_with_result_body>;
const vectorcallfunc get_fast_entry = method_fast_entry<get_signature, get_body>;
const vectorcallfunc post_fast_entry = method_fast_entry<post_signature, post_body>;

}  // namespace wsh
