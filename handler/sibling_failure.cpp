#include "handler/sibling_failure.h"

#include "handler/answer.h"
#include "module/state.h"
#include "runtime/call.h"
#include "runtime/exceptions.h"
#include "runtime/lookup.h"
#include "runtime/traceback.h"
#include "runtime/unpack.h"

namespace wsh {

namespace {

// requests.exceptions.<name>, with `requests` read at `site`.
Ref requests_exception_class(StringId name, GlobalSite site) {
    Ref requests = read_global(s_requests, site);
    if (!requests) return requests;
    Ref exceptions = read_module_attr(requests.get(), s_exceptions, site, 0);
    if (!exceptions) return exceptions;
    return read_module_attr(exceptions.get(), name, site, 1);
}

// Evaluates a clause's class with the exception being matched taken out of
// the thread (evaluating it may run Python code), then matches. 1 for a
// match, 0 for none (the exception pending again in both cases), -1 when
// the evaluation failed: its error replaces the exception being matched.
int clause_matches(StringId name, GlobalSite site) {
    RaisedException pending = take_raised();
    Ref clause = requests_exception_class(name, site);
    if (!clause) return -1;
    restore_raised(std::move(pending));
    return exception_matches(clause.get()) ? 1 : 0;
}

class ClauseRun {
public:
    ClauseRun(PyThreadState* thread, PyObject* self, const SiblingFailureClauses& clauses,
              RaisedException&& saved)
        : thread_(thread), self_(self), c_(clauses), saved_(std::move(saved)) {}

    PyObject* fail(int line) const {
        add_traceback(c_.function_name, line, source_file_name);
        return nullptr;
    }

    // Enters the matched clause: the caught exception gets the entry of the
    // guarded line and becomes the handled one.
    bool enter(int take_line) {
        add_traceback(c_.function_name, c_.guarded_line, source_file_name);
        if (take_exception(thread_, caught_) == 0) return true;
        fail(take_line);
        return false;
    }

    // Leaves the clause: the caught exception is released and the saved
    // handled exception put back, whether the clause answered or failed.
    PyObject* leave(PyObject* result) {
        RaisedException caught = std::move(caught_);
        reset_handled_exception(thread_, std::move(saved_));
        return result;
    }

    PyObject* answer(Ref status, PyObject* error_text, int line) {
        if (!status) return fail(line);
        Ref body = one_key_dict(s_error, error_text);
        if (!body || make_result_answer(self_, status.get(), body.get()) < 0) return fail(line);
        Py_RETURN_NONE;
    }

    PyObject* connection_failure() {
        return answer(http_status(s_BAD_GATEWAY, c_.bad_gateway_site), str(s_zorvik_url_invalid),
                      c_.connection_answer_line);
    }

    PyObject* request_failure() {
        Ref parse = read_global(s_parse_zorvik_exception, c_.parse_site);
        if (!parse) return fail(c_.parse_line);
        Ref text = text_of(caught_.value.get());
        if (!text) return fail(c_.parse_line);
        PyObject* args[] = {nullptr, text.get()};
        Ref parsed = Ref::steal(call_vector(parse.get(), args + 1, PY_VECTORCALL_ARGUMENTS_OFFSET,
                                            state().keywords_error_str.get()));
        Ref status_code;
        Ref message;
        if (!parsed || unpack_pair(parsed.get(), status_code, message) < 0) {
            return fail(c_.parse_line);
        }
        return answer(std::move(status_code), message.get(), c_.request_answer_line);
    }

    PyObject* internal_error() {
        Ref status = http_status(s_INTERNAL_SERVER_ERROR, c_.internal_error_site);
        if (!status) return fail(c_.exception_answer_line);
        Ref text = text_of(caught_.value.get());
        if (!text) return fail(c_.exception_answer_line);
        return answer(std::move(status), text.get(), c_.exception_answer_line);
    }

private:
    PyThreadState* thread_;
    PyObject* self_;
    const SiblingFailureClauses& c_;
    RaisedException saved_;
    RaisedException caught_;
};

}  // namespace

PyObject* answer_sibling_failure(PyThreadState* thread, PyObject* self,
                                 const SiblingFailureClauses& clauses, RaisedException&& saved) {
    ClauseRun run(thread, self, clauses, std::move(saved));

    const int connection = clause_matches(s_ConnectionError, clauses.requests_connection_site);
    if (connection < 0) return run.fail(clauses.connection_line);
    if (connection == 1) {
        if (!run.enter(clauses.connection_line)) return nullptr;
        return run.leave(run.connection_failure());
    }

    const int request = clause_matches(s_RequestException, clauses.requests_request_site);
    if (request < 0) return run.fail(clauses.request_line);
    if (request == 1) {
        if (!run.enter(clauses.request_line)) return nullptr;
        return run.leave(run.request_failure());
    }

    if (exception_matches(PyExc_Exception)) {
        if (!run.enter(clauses.exception_line)) return nullptr;
        return run.leave(run.internal_error());
    }
    return run.fail(clauses.guarded_line);
}

}  // namespace wsh
