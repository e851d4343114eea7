// The method definitions from which the handler's function objects are made.
#pragma once

#include <Python.h>

namespace wsh {

extern PyMethodDef finish_with_result_method;
extern PyMethodDef get_method;
extern PyMethodDef post_method;

}  // namespace wsh
