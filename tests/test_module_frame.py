"""Loading the module: create and exec hooks, state left behind, failures."""
import builtins
import sys
import warnings

import pytest

from helpers import HOOKS, INIT_NAME, MODULE_NAME, run_scenario



def test_state_after_import(wh):
    assert wh.__test__ == {}
    assert wh.__doc__ is None
    assert wh.__builtins__ is builtins
    assert wh.__package__ == "corvanix.server.handlers.zorvik"
    assert wh.__loader__ is wh.__spec__.loader
    assert not hasattr(wh, "__path__")
    assert sys.modules[MODULE_NAME] is wh
    assert "cython_runtime" in sys.modules
    assert "_cython_3_2_4amsendbackport" in sys.modules


def test_repeated_import_gives_the_same_module_without_running_the_body():
    run_scenario(f"""
        import importlib, sys
        m = importlib.import_module("{MODULE_NAME}")
        marker = object()
        m.__test__ = marker
        del sys.modules["{MODULE_NAME}"]
        again = importlib.import_module("{MODULE_NAME}")
        assert again is m
        assert again.__test__ is marker  # the body did not bind __test__ again
        importlib.reload(m)  # runs the exec hook on the same module: no effect
        assert m.__test__ is marker
    """)


def test_exec_hook_guard():
    run_scenario(HOOKS + f"""
import importlib
m = importlib.import_module("{MODULE_NAME}")
m.__test__ = "kept"
assert execute(m) == 0
assert m.__test__ == "kept"
other = types.ModuleType("other")
try:
    execute(other)
except RuntimeError as e:
    assert str(e) == ("Module 'workspace_handler' has already been imported. "
                      "Re-initialisation is not supported."), e
else:
    raise AssertionError("no RuntimeError")
assert importlib.import_module("{MODULE_NAME}") is m
""")


# The interpreters module was renamed in 3.13. From 3.12 a new interpreter
# is isolated by default, and the interpreter itself refuses every module
# that does not declare support for that, before the module's own code runs;
# a legacy one (the only kind before 3.12) reaches our check.
INTERPRETERS_MODULE = "_interpreters" if sys.version_info >= (3, 13) else "_xxsubinterpreters"
OUR_REFUSAL = ("Interpreter change detected - this module can only be loaded into one "
               "interpreter per process.")
INTERPRETER_REFUSAL = f"module {MODULE_NAME} does not support loading in subinterpreters"


def create_args(isolated):
    if sys.version_info < (3, 12):
        return ""
    if sys.version_info < (3, 13):
        return f"isolated={isolated}"
    return "'isolated'" if isolated else "'legacy'"


@pytest.mark.parametrize("isolated, refusal", [
    (False, OUR_REFUSAL),
    (True, INTERPRETER_REFUSAL if sys.version_info >= (3, 12) else OUR_REFUSAL),
], ids=["legacy", "isolated"])
def test_second_interpreter_is_refused(isolated, refusal):
    proc = run_scenario(f"""
        import {INTERPRETERS_MODULE} as interpreters
        import {MODULE_NAME}
        interp = interpreters.create({create_args(isolated)})
        try:
            # Up to 3.12 the failure is raised, from 3.13 it is returned.
            failure = interpreters.run_string(interp, "import {MODULE_NAME}")
        except getattr(interpreters, "RunFailedError", ()) as e:
            print(e)
        else:
            if failure is None:
                raise AssertionError("the second interpreter imported the module")
            print(f"<class '{{failure.type.__name__}}'>: {{failure.msg}}")
        finally:
            interpreters.destroy(interp)
    """)
    assert proc.stdout.strip() == f"<class 'ImportError'>: {refusal}"


def test_spec_attributes_are_copied():
    run_scenario(HOOKS + """
spec = types.SimpleNamespace(name="wh_copy", loader=None, origin="somewhere.so",
                             parent="pkg", submodule_search_locations=None)
m = create(spec)
assert m.__name__ == "wh_copy"
assert m.__loader__ is None and m.__file__ == "somewhere.so" and m.__package__ == "pkg"
assert not hasattr(m, "__path__")
assert execute(m) == 0
assert m.__test__ == {} and m.__builtins__ is __builtins__
""")
    run_scenario(HOOKS + """
spec = types.SimpleNamespace(name="wh_partial", submodule_search_locations=["a", "b"])
m = create(spec)
assert m.__path__ == ["a", "b"]
assert "__loader__" not in vars(m) or m.__loader__ is None
assert not hasattr(m, "__file__")
""")
    run_scenario(HOOKS + """
m = create(types.SimpleNamespace(name="wh_no_path"))
assert not hasattr(m, "__path__")
""")


def test_spec_without_name_fails_in_create():
    run_scenario(HOOKS + """
try:
    create(types.SimpleNamespace(loader=None))
except AttributeError as e:
    assert "name" in str(e)
else:
    raise AssertionError("no AttributeError")
# the failed create left nothing behind: a proper load still works
m = create(types.SimpleNamespace(name="wh_after"))
assert execute(m) == 0
""")


def test_zlib_without_decompress():
    run_scenario(f"""
        import sys, traceback, types
        real_zlib = sys.modules.get("zlib")
        sys.modules["zlib"] = types.ModuleType("zlib")
        try:
            import {MODULE_NAME}
        except ImportError as e:
            assert str(e) == ("Failed to import 'zlib.decompress' - cannot initialise module strings. "
                              "String compression was configured with the C macro "
                              "'CYTHON_COMPRESS_STRINGS=1'."), e
            names = [f.name for f in traceback.extract_tb(e.__traceback__)]
            assert "{INIT_NAME}" not in names, names
        else:
            raise AssertionError("import succeeded")
        assert "{MODULE_NAME}" not in sys.modules
        # a later attempt runs the whole body again in a new module
        if real_zlib is not None:
            sys.modules["zlib"] = real_zlib
        else:
            del sys.modules["zlib"]
        import {MODULE_NAME} as m
        assert m.__test__ == {{}}
    """)


@pytest.mark.parametrize("result", ["b'short'", "b'x' * 1637 + b'y'", "'x' * 1637", "None", "bytearray(1637)"])
def test_decompress_result_is_checked_before_use(result):
    run_scenario(f"""
        import sys, types
        fake = types.ModuleType("zlib")
        fake.decompress = lambda data: {result}
        sys.modules["zlib"] = fake
        try:
            import {MODULE_NAME}
        except ImportError as e:
            assert "cannot initialise module strings" in str(e), e
            assert "expected bytes of 1637 bytes" in str(e), e
        else:
            raise AssertionError("import succeeded")
    """)


def test_decompress_error_passes_through():
    run_scenario(f"""
        import sys, types
        fake = types.ModuleType("zlib")
        def decompress(data):
            raise OSError("disk on fire")
        fake.decompress = decompress
        sys.modules["zlib"] = fake
        try:
            import {MODULE_NAME}
        except OSError as e:
            assert str(e) == "disk on fire"
        else:
            raise AssertionError("import succeeded")
    """)


# The test module is built for the running interpreter.
COMPILED = sys.version_info[0] << 8 | sys.version_info[1]
OTHER_MINOR = 9 if sys.version_info[1] != 9 else 10


class TestVersionCheck:
    def test_parse_version(self, testmod):
        v = testmod.parse_version
        assert v("3.8.10 (default, May  9 2026)") == 3 << 24 | 8 << 16 | 10 << 8
        assert v("3.8.18+") == 3 << 24 | 8 << 16 | 18 << 8
        assert v("3.13.0rc1") == 3 << 24 | 13 << 16
        assert v("") == 0
        assert v("3..5") == 3 << 24 | 5 << 8
        assert v("1.2.3.4.5.6") == 0x01020304  # the factor runs out after four parts
        assert v("99999999999.1") == (99999999999 * (1 << 24) + (1 << 16)) % (1 << 32)

    def test_same_major_and_minor_does_not_warn(self, testmod):
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            for micro in (0, 18, 255):
                testmod.warn_version(COMPILED << 16 | micro << 8 | 7)

    def test_other_minor_warns(self, testmod):
        with pytest.warns(RuntimeWarning) as record:
            testmod.warn_version(3 << 24 | OTHER_MINOR << 16)
        assert [str(w.message) for w in record] == [
            f"compile time Python version 3.{sys.version_info[1]} of module "
            "'corvanix.server.handlers.zorvik.workspace_handler' does not match runtime "
            f"version 3.{OTHER_MINOR}"
        ]

    def test_warning_as_error_fails(self, testmod):
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            with pytest.raises(RuntimeWarning, match="does not match runtime version 4.0"):
                testmod.warn_version(4 << 24)


def test_import_under_warnings_as_errors_on_the_compiled_version():
    # the running interpreter is the one the module was built for: no warning
    run_scenario(f"import {MODULE_NAME} as m; assert m.__test__ == {{}}",
                 extra_args=("-W", "error::RuntimeWarning"))


def test_import_and_use_warn_about_nothing_deprecated():
    # Every warning an error: the module and its types use nothing the
    # running interpreter deprecates (types from PyType_Spec included).
    run_scenario(f"""
        import inspect, types
        import {MODULE_NAME} as m
        handler = m.ZRVZorvikWorkspaceHandler
        for name in ("get", "post", "_finish_with_result"):
            # get and post are wrapped by the authentication decorator
            code = inspect.unwrap(getattr(handler, name)).__code__
            assert code.co_filename.endswith("workspace_handler.py"), code
            try:
                types.FunctionType(code, {{}})(*[None] * code.co_argcount)
            except (SystemError, AssertionError):
                pass
    """, extra_args=("-W", "error",
                     # jupyter_server before 2.14 loads jupyter_events with the
                     # module, and that warns about a logging library's move
                     "-W", "ignore:pythonjsonlogger.jsonlogger has been moved:DeprecationWarning"))
