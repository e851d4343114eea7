"""The handler class as Python sees it, and how it is built at import."""
import inspect

from helpers import FAILED_AT, HOOKS, MODULE_NAME, SOURCE_FILE, line, run_scenario

GET_DOC = "\n        GET method to retrieve connected workspaces.\n        "
POST_DOC = "\n        POST method to set workspace id.\n        "


def test_class_shape(wh):
    from jupyter_server.base.handlers import APIHandler

    cls = wh.ZRVZorvikWorkspaceHandler
    assert cls.__name__ == cls.__qualname__ == "ZRVZorvikWorkspaceHandler"
    assert cls.__module__ == MODULE_NAME
    assert cls.__bases__ == (APIHandler,) and type(cls) is type(APIHandler)
    assert cls.__doc__ is None
    assert [k for k in vars(cls) if k in ("_finish_with_result", "get", "post")] == [
        "_finish_with_result", "get", "post"]
    assert "__orig_bases__" not in vars(cls)


def test_methods(wh):
    cls = wh.ZRVZorvikWorkspaceHandler
    finish = vars(cls)["_finish_with_result"]
    get, post = cls.get.__wrapped__, cls.post.__wrapped__
    for f, name, doc, varnames in [
        (finish, "_finish_with_result", None, ("self", "status_code", "result")),
        (get, "get", GET_DOC, ("self", "joined_workspaces", "exp", "status_code", "message", "e",
                               "workspaces", "workspace")),
        (post, "post", POST_DOC, ("self", "data", "workspace_id", "exp", "status_code", "message", "e")),
    ]:
        assert type(f).__name__ == "cython_function_or_method"
        assert f.__name__ == name and f.__qualname__ == "ZRVZorvikWorkspaceHandler." + name
        assert f.__doc__ == doc and f.__module__ == MODULE_NAME
        assert f.__code__.co_varnames == varnames and f.__code__.co_firstlineno == line(name)
        assert f.__code__.co_filename == SOURCE_FILE and f.__globals__ is vars(wh)
    assert list(finish.__annotations__.items()) == [
        ("status_code", "Union[int, HTTPStatus]"),
        ("result", "Union[Dict[str, Any], List[Dict[str, Any]]]"),
        ("return", "None"),
    ]
    assert get.__annotations__ == {"return": "None"} == post.__annotations__
    assert cls.get.__doc__ == GET_DOC  # kept by the decorator
    assert str(inspect.signature(finish)) == (
        "(self, status_code: 'Union[int, HTTPStatus]', "
        "result: 'Union[Dict[str, Any], List[Dict[str, Any]]]') -> 'None'")


def test_decorated_by_tornado_authenticated():
    run_scenario(f"""
        import tornado.web
        import jupyter_server.base.handlers  # decorates its own handlers at import
        calls = []
        real = tornado.web.authenticated
        def authenticated(method):
            calls.append(method.__name__)
            return ("wrapped", method)
        tornado.web.authenticated = authenticated
        import {MODULE_NAME} as m
        assert calls == ["get", "post"], calls
        cls = m.ZRVZorvikWorkspaceHandler
        assert vars(cls)["get"][0] == "wrapped" and vars(cls)["get"][1].__name__ == "get"
        assert vars(cls)["post"][1].__name__ == "post"
    """)




def test_mro_entries_must_return_a_tuple():
    run_scenario(FAILED_AT + f"""
import jupyter_server.base.handlers as handlers
class Base:
    def __mro_entries__(self, bases):
        return [object]
handlers.APIHandler = Base()
try:
    import {MODULE_NAME}
except TypeError as e:
    assert str(e) == "__mro_entries__ must return a tuple", e
    assert failed_at(e) == {line("class")}
else:
    raise AssertionError("import succeeded")
""")


def test_mro_entries_substitution_keeps_the_declared_bases():
    run_scenario(f"""
import jupyter_server.base.handlers as handlers
real = handlers.APIHandler
class Base:
    def __mro_entries__(self, bases):
        return (real,)
declared = Base()
handlers.APIHandler = declared
import {MODULE_NAME} as m
cls = m.ZRVZorvikWorkspaceHandler
assert cls.__bases__ == (real,)
assert cls.__orig_bases__ == (declared,)
""")


def test_tornado_web_without_authenticated():
    run_scenario(HOOKS + FAILED_AT + f"""
import tornado.web
import jupyter_server.base.handlers  # decorates its own handlers at import
del tornado.web.authenticated
m = create(types.SimpleNamespace(name="no_auth"))
try:
    execute(m)
except AttributeError as e:
    assert "authenticated" in str(e), e
    assert failed_at(e) == {line("get")}
else:
    raise AssertionError("import succeeded")
assert "ZRVZorvikWorkspaceHandler" not in vars(m)
assert "parse_zorvik_exception" in vars(m)  # the imports before the class stay bound
assert "{MODULE_NAME}" not in sys.modules
""")


def test_retried_import_names_its_own_functions_in_tracebacks():
    # The failed import leaves an entry at the line of `def get`; a later
    # argument error of get() at that line must still be named get.
    run_scenario(FAILED_AT + f"""
import tornado.web
import jupyter_server.base.handlers  # decorates its own handlers at import
real = tornado.web.authenticated
def refuse(method):
    raise RuntimeError("decorating refused")
tornado.web.authenticated = refuse
try:
    import {MODULE_NAME}
except RuntimeError as e:
    assert failed_at(e) == {line("get")}
else:
    raise AssertionError("import succeeded")
tornado.web.authenticated = real
import {MODULE_NAME} as m
try:
    m.ZRVZorvikWorkspaceHandler.get.__wrapped__()
except TypeError as e:
    last = traceback.extract_tb(e.__traceback__)[-1]
    assert (last.name, last.lineno) == ("{MODULE_NAME}.ZRVZorvikWorkspaceHandler.get", {line("get")}), last
else:
    raise AssertionError("get() took no arguments")
""")


def test_metaclass_conflict():
    run_scenario(FAILED_AT + f"""
import jupyter_server.base.handlers as handlers
class Meta(type):
    pass
class Other(type):
    pass
A = Meta("A", (), {{}})
B = Other("B", (), {{}})
class Both:
    def __mro_entries__(self, bases):
        return (A, B)
handlers.APIHandler = Both()
try:
    import {MODULE_NAME}
except TypeError as e:
    assert str(e).startswith("metaclass conflict"), e
    assert failed_at(e) == {line("class")}
else:
    raise AssertionError("import succeeded")
""")


def test_prepare_namespace_of_the_metaclass_is_used():
    run_scenario(f"""
import jupyter_server.base.handlers as handlers
seen = {{}}
class Meta(type):
    @classmethod
    def __prepare__(mcls, name, bases):
        seen["prepare"] = (name, bases)
        return {{"prepared": True}}
    def __new__(mcls, name, bases, ns):
        seen["keys"] = list(ns)
        return super().__new__(mcls, name, bases, ns)
class Base(metaclass=Meta):
    pass
handlers.APIHandler = Base
import {MODULE_NAME} as m
assert seen["prepare"] == ("ZRVZorvikWorkspaceHandler", (Base,))
assert seen["keys"] == ["prepared", "__module__", "__qualname__", "_finish_with_result", "get", "post"], seen
assert m.ZRVZorvikWorkspaceHandler.prepared is True
""")
