// The three `except` clauses around a call into the sibling modules, shared
// by `get` (around the fetch) and `post` (around setting the workspace):
//
//     except requests.exceptions.ConnectionError:        -> 502 "Zorvik URL is invalid."
//     except requests.exceptions.RequestException as exp: -> parse_zorvik_exception(error_str=str(exp))
//     except Exception as e:                              -> 500 str(e)
#pragma once

#include <Python.h>

#include "handler/method_record.h"
#include "runtime/exception_state.h"
#include "runtime/lookup.h"

namespace wsh {

struct ExceptClauses {
    const HandlerMethod& method;  // whose traceback entries these are
    struct {
        int guarded;            // the guarded call; also the line of an unmatched exception
        int connection_clause;  // evaluating ConnectionError, taking the exception
        int connection_answer;
        int request_clause;     // evaluating RequestException, taking the exception
        int parse;              // parse_zorvik_exception, str(exp), unpacking
        int request_answer;
        int exception_clause;   // taking the exception of the Exception clause
        int exception_answer;
    } lines;
    struct {
        Place<2> requests_connection;  // requests.exceptions.ConnectionError
        Place<2> requests_request;     // requests.exceptions.RequestException
        Place<1> bad_gateway;          // HTTPStatus.BAD_GATEWAY
        Place<0> parse;                // parse_zorvik_exception
        Place<1> internal_error;       // HTTPStatus.INTERNAL_SERVER_ERROR
    } places;
};

// Runs the clauses for the exception raised by the guarded call. The
// handled exception is as before whatever the outcome. Returns None after
// an answer, or an empty handle with an exception set.
Ref answer_from_clauses(PyThreadState* thread, PyObject* self, const ExceptClauses& clauses);

}  // namespace wsh
