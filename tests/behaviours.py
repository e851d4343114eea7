"""Randomised behaviours of the handler's collaborators, for the property and
fault tests.

Strategies draw plain descriptions (tuples of strings and JSON-like values);
`make_*` turns a description into fresh objects each time it is played, so a
drawn scenario can be replayed many times (the leak check replays them).
"""
import types
from http import HTTPStatus

import requests
from hypothesis import strategies as st


# ------------------------------------------------------------------ exceptions

class CustomBase(BaseException):
    pass


class CustomError(Exception):
    pass


def _str_raises(self):
    raise RuntimeError("__str__ failed")


def _str_not_text(self):
    return 5


EXCEPTION_CLASSES = {
    cls.__name__: cls for cls in (
        ValueError, KeyError, TypeError, MemoryError, RecursionError, StopIteration,
        KeyboardInterrupt, SystemExit, GeneratorExit, CustomBase, CustomError,
        requests.exceptions.ConnectionError, requests.exceptions.ConnectTimeout,
        requests.exceptions.HTTPError, requests.exceptions.RequestException,
        requests.exceptions.ReadTimeout,
    )
}
# The same classes with a __str__ that raises, or returns no text.
_VARIANTS = {}
for _name, _cls in EXCEPTION_CLASSES.items():
    _VARIANTS[(_name, "str-raises")] = type(_name + "StrRaises", (_cls,), {"__str__": _str_raises})
    _VARIANTS[(_name, "str-not-text")] = type(_name + "StrNotText", (_cls,), {"__str__": _str_not_text})

texts = st.text(max_size=20)

exceptions = st.tuples(
    st.sampled_from(sorted(EXCEPTION_CLASSES)),
    st.sampled_from(["plain", "plain", "str-raises", "str-not-text", "no-args"]),
    texts,
)


def make_exception(description):
    name, variant, message = description
    cls = EXCEPTION_CLASSES[name] if variant in ("plain", "no-args") else _VARIANTS[(name, variant)]
    return cls() if variant == "no-args" else cls(message)


# ---------------------------------------------------------------- JSON values

def _nested(depth, leaf):
    value = leaf
    for i in range(depth):
        value = [value] if i % 2 else {"k": value}
    return value


json_scalars = (st.none() | st.booleans() | st.integers()
                | st.integers(min_value=-(2 ** 300), max_value=2 ** 300)
                | st.floats(allow_nan=True, allow_infinity=True) | st.text())
json_values = st.recursive(
    json_scalars,
    lambda inner: st.lists(inner, max_size=4) | st.dictionaries(st.text(max_size=8), inner, max_size=4),
    max_leaves=12,
)
# Deep enough, at the top, to exhaust the serialiser's recursion limit.
deep_values = st.builds(_nested, st.sampled_from([50, 400, 2000]), json_scalars)
any_json = json_values | deep_values

# ---------------------------------------------------------------- siblings

class Workspace:
    def __init__(self, owner, behaviour):
        self.owner = owner
        self.behaviour = behaviour

    def to_dict(self):
        kind, arg = self.behaviour
        if kind == "raise":
            raise make_exception(arg)
        if kind == "shorten":  # the list being walked loses its tail
            del self.owner[1:]
        return arg if kind == "value" else {"shortened": True}


items = st.one_of(
    st.tuples(st.just("value"), any_json),
    st.tuples(st.just("raise"), exceptions),
    st.tuples(st.just("shorten"), st.none()),
    st.tuples(st.just("plain"), st.none()),
)

odd_values = st.sampled_from(["tuple", "list-subclass", "int", "str", "dict", "none", "set"])


class ListSubclass(list):
    pass


def make_fetch_result(description):
    kind, arg = description
    if kind == "list":
        result = []
        for item in arg:
            result.append(object() if item[0] == "plain" else Workspace(result, item))
        return result
    return {"tuple": (1, 2), "list-subclass": ListSubclass(), "int": 3, "str": "ab",
            "dict": {}, "none": None, "set": {1}}[arg]


fetch_behaviours = st.one_of(
    st.tuples(st.just("return"), st.tuples(st.just("list"), st.lists(items, max_size=4))),
    st.tuples(st.just("return"), st.tuples(st.just("odd"), odd_values)),
    st.tuples(st.just("raise"), exceptions),
)

set_behaviours = st.one_of(
    st.tuples(st.just("return"), json_values),
    st.tuples(st.just("raise"), exceptions),
)

statuses = st.one_of(
    st.integers(min_value=100, max_value=599), st.sampled_from(list(HTTPStatus)),
    st.sampled_from(["404", "x", None, 3.7, 2 ** 70, float("nan"), "object"]),
)
messages = json_values | st.just("set")
parse_shapes = st.sampled_from(
    ["tuple", "list", "one", "three", "empty", "iter2", "iter1", "iter3", "iter-raises",
     "not-iterable", "text2"])
parse_behaviours = st.one_of(
    st.tuples(st.just("return"), st.tuples(parse_shapes, statuses, messages)),
    st.tuples(st.just("raise"), exceptions),
)


def _parse_result(shape, status, message):
    status = object() if status == "object" else status
    message = {1, 2} if message == "set" else message

    def raising():
        yield status
        raise make_exception(("ValueError", "plain", "iterator failed"))

    return {
        "tuple": lambda: (status, message),
        "list": lambda: [status, message],
        "one": lambda: (status,),
        "three": lambda: (status, message, None),
        "empty": lambda: [],
        "iter2": lambda: iter([status, message]),
        "iter1": lambda: iter([status]),
        "iter3": lambda: iter([status, message, 3]),
        "iter-raises": raising,
        "not-iterable": lambda: 42,
        "text2": lambda: "ab",
    }[shape]()


def make_sibling(description, on_call=None):
    """A sibling function doing what `description` says, recording its calls."""
    kind, arg = description

    def sibling(*args, **kwargs):
        if on_call is not None:
            on_call(args, kwargs)
        if kind == "raise":
            raise make_exception(arg)
        return arg

    return sibling


def make_fetch(description):
    kind, arg = description
    if kind == "raise":
        return make_sibling(description)
    return lambda: make_fetch_result(arg)


def make_parse(description):
    kind, arg = description
    if kind == "raise":
        return make_sibling(description)
    return lambda *args, **kwargs: _parse_result(*arg)


# ------------------------------------------------------------ module globals

GLOBAL_NAMES = ("json", "HTTPStatus", "requests", "get_joined_workspaces",
                "set_joined_workspace", "parse_zorvik_exception")

clause_kinds = st.sampled_from(
    ["real", "tuple", "int", "type-int", "base", "missing"])
dumps_behaviours = st.one_of(
    st.tuples(st.just("return"), st.sampled_from(["text", 5, None, b"bytes", "é"])),
    st.tuples(st.just("raise"), exceptions),
)
global_changes = st.one_of(
    st.tuples(st.just("delete"), st.sampled_from(GLOBAL_NAMES)),
    st.tuples(st.just("json"), dumps_behaviours),
    st.tuples(st.just("HTTPStatus"), st.sampled_from(["empty", "ints", "strs", "none", "real"])),
    st.tuples(st.just("requests"), st.tuples(clause_kinds, clause_kinds)),
    st.tuples(st.just("not-callable"), st.sampled_from(GLOBAL_NAMES[3:])),
)


def _clause(kind, real):
    return {"real": real, "tuple": (real, ValueError), "int": 3, "type-int": int,
            "base": BaseException}[kind]


def apply_global_change(module, change):
    kind, arg = change
    if kind == "delete":
        if arg in vars(module):
            delattr(module, arg)
    elif kind == "json":
        module.json = types.SimpleNamespace(dumps=make_sibling(arg))
    elif kind == "HTTPStatus":
        members = ("OK", "BAD_REQUEST", "BAD_GATEWAY", "INTERNAL_SERVER_ERROR")
        module.HTTPStatus = {
            "empty": object(),
            "ints": types.SimpleNamespace(**{m: 200 + i for i, m in enumerate(members)}),
            "strs": types.SimpleNamespace(**{m: "abc" for m in members}),
            "none": types.SimpleNamespace(**{m: None for m in members}),
            "real": HTTPStatus,
        }[arg]
    elif kind == "requests":
        connection, request = arg
        exceptions_ns = types.SimpleNamespace()
        if connection != "missing":
            exceptions_ns.ConnectionError = _clause(connection, requests.exceptions.ConnectionError)
        if request != "missing":
            exceptions_ns.RequestException = _clause(request, requests.exceptions.RequestException)
        module.requests = types.SimpleNamespace(exceptions=exceptions_ns)
    else:
        setattr(module, arg, 5)
