// The method definitions from which the handler's function objects are made.
#pragma once

#include <Python.h>

namespace wsh {

extern PyMethodDef finish_with_result_method;
extern PyMethodDef get_method;
extern PyMethodDef post_method;

// Their function objects' fast-call entries.
extern const vectorcallfunc finish_with_result_fast_entry;
extern const vectorcallfunc get_fast_entry;
extern const vectorcallfunc post_fast_entry;

}  // namespace wsh
