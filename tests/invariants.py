"""What every call of `get` or `post` must leave behind, whatever happens
around it: None after exactly one complete result answer, or an exception
with at most a partial answer and a traceback entry of the method; and the
caller's handled exception as it was."""
import sys
import traceback

from handler_double import make_double_class
from helpers import MODULE_NAME, SOURCE_FILE

WRITER_STEPS = ["set_header", "set_header", "set_status", "finish"]
DOUBLE_METHODS = ("set_header", "set_status", "finish", "get_json_body")


def make_counting_double(wh):
    """The recording double, counting result answers; `fault` makes one of
    its methods raise: (method name, n-th call from 0, exception factory or
    a description for behaviours.make_exception)."""
    import behaviours

    base = make_double_class(wh.ZRVZorvikWorkspaceHandler)
    native_writer = wh.ZRVZorvikWorkspaceHandler._finish_with_result

    class Double(base):
        def __init__(self, body=None, fault=None):
            super().__init__(body)
            self.answers = 0
            self.fault = fault

        def _record(self, name, args, kwargs):
            super()._record(name, args, kwargs)
            if self.fault is not None:
                method, index, exc = self.fault
                if name == method and sum(c[0] == name for c in self.calls) == index + 1:
                    raise exc() if callable(exc) else behaviours.make_exception(exc)

        def _finish_with_result(self, *args, **kwargs):
            self.answers += 1
            return native_writer(self, *args, **kwargs)

    return Double


def method_entries(exc, method):
    """Lines of the traceback entries that `method` added to `exc`."""
    name = f"{MODULE_NAME}.ZRVZorvikWorkspaceHandler.{method}"
    return [f.lineno for f in traceback.extract_tb(exc.__traceback__)
            if f.filename == SOURCE_FILE and f.name == name]


def call_method(handler, method):
    """handler.<method>(): (result, None) or (None, the exception)."""
    try:
        return getattr(handler, method)(), None
    except BaseException as e:  # everything must come out as an exception
        return None, e


def check_call(handler, method, handled=False):
    """Calls handler.<method>() and checks the invariants.

    Returns "answered", or the exception that left the method.
    """
    if handled:
        try:
            raise LookupError("being handled")
        except LookupError:
            before = sys.exc_info()
            result, raised = call_method(handler, method)
            assert sys.exc_info() == before
    else:
        result, raised = call_method(handler, method)
        assert sys.exc_info() == (None, None, None)
    return check_outcome(handler, method, result, raised)


def check_outcome(handler, method, result, raised):
    writer = [name for name, _, _ in handler.calls if name != "get_json_body"]
    if raised is None:
        assert result is None
        assert handler.answers == 1 and writer == WRITER_STEPS
        answer = handler.answer
        assert answer.headers["Content-Type"] == "application/json"
        text = [args[0] for name, args, _ in handler.calls if name == "finish"][0]
        assert answer.headers["Content-Length"] == str(len(text))
        assert type(answer.status) is int
        return "answered"
    assert isinstance(raised, BaseException)
    assert handler.answers <= 1
    assert writer == WRITER_STEPS[:len(writer)]
    assert handler.answers == 1 or writer == []
    assert method_entries(raised, method), f"no traceback entry of {method}: {raised!r}"
    return raised
