"""A recording stand-in for the web framework's side of the handler."""
import json


class Answer:
    """What one result answer did to the response, from the recorded calls."""

    def __init__(self, calls):
        self.calls = calls

    @property
    def headers(self):
        return {kw["name"]: kw["value"] for name, _, kw in self.calls if name == "set_header"}

    @property
    def status(self):
        statuses = [kw["status_code"] for name, _, kw in self.calls if name == "set_status"]
        assert len(statuses) <= 1, statuses
        return statuses[0] if statuses else None

    @property
    def body(self):
        bodies = [args[0] for name, args, _ in self.calls if name == "finish"]
        assert len(bodies) <= 1, bodies
        return json.loads(bodies[0]) if bodies else None


def make_double_class(handler_class):
    """A subclass of the real handler that records the calls it receives.

    Every recorded call keeps its positional arguments and its keyword
    arguments in the order given, so keyword names and order can be checked.
    """

    class RecordingHandler(handler_class):
        current_user = "tester"  # lets tornado.web.authenticated through

        def __init__(self, body=None):  # no application or request needed
            self.calls = []
            self.keyword_order = []
            self.json_body = body

        def _record(self, name, args, kwargs):
            self.calls.append((name, args, dict(kwargs)))
            self.keyword_order.append((name, list(kwargs)))

        def set_header(self, *args, **kwargs):
            self._record("set_header", args, kwargs)

        def set_status(self, *args, **kwargs):
            self._record("set_status", args, kwargs)

        def finish(self, *args, **kwargs):
            self._record("finish", args, kwargs)
            return "finish-result"

        def get_json_body(self, *args, **kwargs):
            self._record("get_json_body", args, kwargs)
            return self.json_body

        def reset(self):
            self.calls.clear()
            self.keyword_order.clear()

        @property
        def answer(self):
            return Answer(self.calls)

    return RecordingHandler
