#include "handler/except_clauses.h"

#include "handler/handler_state.h"
#include "handler/result_answer.h"
#include "runtime/call.h"
#include "runtime/compat.h"
#include "runtime/exception_matching.h"
#include "runtime/lookup.h"
#include "runtime/text.h"
#include "runtime/unpack.h"
#include "string_table_data.h"

namespace wsh {

namespace {

// Evaluates a clause's class, then matches. 1 for a match, 0 for none (the
// exception raised again in both cases), -1 when the evaluation failed: its
// error replaces the exception being matched. While the place's caches hold
// the class, evaluating it runs no code and matching runs none either, so
// the class is used borrowed with the exception left where it is; else the
// exception is taken out of the thread while the class is read.
int clause_matches(PyThreadState* thread, const Place<2>& where) {
    if (Borrowed clause = cached_chain<2>(where.caches)) {
        return exception_matches(thread, clause) ? 1 : 0;
    }
    RaisedException raised = take_raised(thread);
    Ref clause = read_place(where);
    if (!clause) return -1;
    restore_error(thread, std::move(raised));
    return exception_matches(thread, clause.get()) ? 1 : 0;
}

class ClauseRun {
public:
    // Made as the exception reaches the clauses: the block saves the
    // handled exception there.
    ClauseRun(PyThreadState* thread, PyObject* self, const ExceptClauses& clauses)
        : self_(self), clauses_(clauses), block_(thread) {}

    Ref fail(int line) const { return clauses_.method.fail(line); }

    // Enters the matched clause: the caught exception gets the entry of the
    // guarded line and becomes the handled one.
    bool enter(int take_line) {
        clauses_.method.fail(clauses_.lines.guarded);
        if (block_.enter() == 0) return true;
        fail(take_line);
        return false;
    }

    Ref answer(Ref status, PyObject* error_text, int line) {
        if (!status) return fail(line);
        Ref body = one_key_dict(s_error, error_text);
        if (!body || make_result_answer(self_, status.get(), body.get()) < 0) return fail(line);
        return Ref::borrow(Py_None);
    }

    Ref connection_failure() {
        return answer(read_place(clauses_.places.bad_gateway), str(s_zorvik_url_invalid),
                      clauses_.lines.connection_answer);
    }

    Ref request_failure() {
        Ref parse = read_place(clauses_.places.parse);
        if (!parse) return fail(clauses_.lines.parse);
        Ref text = text_of(block_.caught());
        if (!text) return fail(clauses_.lines.parse);
        PyObject* args[] = {nullptr, text.get()};
        Ref parsed = Ref::steal(compat::vectorcall(parse.get(), args + 1,
                                                   compat::vectorcall_offset_flag,
                                                   handler_state().keywords_error_str.get()));
        Ref status_code;
        Ref message;
        if (!parsed || unpack_pair(parsed.get(), status_code, message) < 0) {
            return fail(clauses_.lines.parse);
        }
        return answer(std::move(status_code), message.get(), clauses_.lines.request_answer);
    }

    Ref internal_error() {
        Ref status = read_place(clauses_.places.internal_error);
        if (!status) return fail(clauses_.lines.exception_answer);
        Ref text = text_of(block_.caught());
        if (!text) return fail(clauses_.lines.exception_answer);
        return answer(std::move(status), text.get(), clauses_.lines.exception_answer);
    }

private:
    PyObject* self_;
    const ExceptClauses& clauses_;
    ExceptBlock block_;  // left, if entered, as the clauses are
};

}  // namespace

Ref answer_from_clauses(PyThreadState* thread, PyObject* self, const ExceptClauses& clauses) {
    ClauseRun run(thread, self, clauses);

    const int connection =
        clause_matches(thread, clauses.places.requests_connection);
    if (connection < 0) return run.fail(clauses.lines.connection_clause);
    if (connection == 1) {
        if (!run.enter(clauses.lines.connection_clause)) return Ref();
        return run.connection_failure();
    }

    const int request =
        clause_matches(thread, clauses.places.requests_request);
    if (request < 0) return run.fail(clauses.lines.request_clause);
    if (request == 1) {
        if (!run.enter(clauses.lines.request_clause)) return Ref();
        return run.request_failure();
    }

    if (exception_matches(thread, PyExc_Exception)) {
        if (!run.enter(clauses.lines.exception_clause)) return Ref();
        return run.internal_error();
    }
    return run.fail(clauses.lines.guarded);
}

}  // namespace wsh
