// The three `except` clauses around a call into the sibling modules, shared
// by `get` (around the fetch) and `post` (around setting the workspace):
//
//     except requests.exceptions.ConnectionError:        -> 502 "Zorvik URL is invalid."
//     except requests.exceptions.RequestException as exp: -> parse_zorvik_exception(error_str=str(exp))
//     except Exception as e:                              -> 500 str(e)
#pragma once

#include <Python.h>

#include "module/global_sites.h"
#include "runtime/errors.h"

namespace wsh {

struct SiblingFailureClauses {
    const char* function_name;  // traceback name of the method
    int guarded_line;           // the guarded call; also the line of an unmatched exception
    int connection_line;        // evaluating ConnectionError, taking the exception
    int connection_answer_line;
    int request_line;           // evaluating RequestException, taking the exception
    int parse_line;             // parse_zorvik_exception, str(exp), unpacking
    int request_answer_line;
    int exception_line;         // taking the exception of the Exception clause
    int exception_answer_line;
    GlobalSite requests_connection_site;
    GlobalSite requests_request_site;
    GlobalSite bad_gateway_site;
    GlobalSite parse_site;
    GlobalSite internal_error_site;
};

// Runs the clauses for the exception pending from the guarded call. `saved`
// is the handled exception saved when the `try` was entered; it is the
// handled one again whatever the outcome. Returns None after an answer, or
// null with an exception set.
PyObject* answer_sibling_failure(PyThreadState* thread, PyObject* self,
                                 const SiblingFailureClauses& clauses, RaisedException&& saved);

}  // namespace wsh
