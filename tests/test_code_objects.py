"""The three method code objects made at load."""
import ast
import os
import sys
import types
import warnings

import pytest

from helpers import line

SOURCE_FILE = "corvanix/server/handlers/zorvik/workspace_handler.py"
PLAIN_HANDLER = os.path.join(os.path.dirname(__file__), os.pardir, "bench",
                             "plain_workspace_handler.py")


def plain_methods():
    """(name, argcount, local names) of each method of the plain-Python
    handler, in class order: its own code objects' arguments and locals,
    with the names its comprehensions bind last (a comprehension keeps them
    in a code object of its own up to 3.11, and inlines them where it stands
    from 3.12)."""
    with open(PLAIN_HANDLER, encoding="utf-8") as f:
        source = f.read()
    module = compile(source, PLAIN_HANDLER, "exec")
    (cls,) = [c for c in module.co_consts
              if isinstance(c, types.CodeType) and c.co_name == "ZRVZorvikWorkspaceHandler"]
    (class_node,) = [n for n in ast.parse(source).body if isinstance(n, ast.ClassDef)]
    bound_in_comprehensions = {
        node.name: [target.id for c in ast.walk(node) if isinstance(c, ast.comprehension)
                    for target in ast.walk(c.target) if isinstance(target, ast.Name)]
        for node in class_node.body if isinstance(node, ast.FunctionDef)}
    methods = []
    for code in cls.co_consts:
        # From 3.14 the class body also holds the function that computes its
        # annotations (__annotate__, deferred annotations): not a method.
        if not isinstance(code, types.CodeType) or code.co_name not in bound_in_comprehensions:
            continue
        inner = bound_in_comprehensions[code.co_name]
        own = tuple(name for name in code.co_varnames if name not in inner)
        methods.append((code.co_name, code.co_argcount, own + tuple(inner)))
    return methods


EXPECTED = plain_methods()


# 3.15 drops co_lnotab (deprecated from 3.12); co_linetable stays.
HAS_LNOTAB = sys.version_info < (3, 15)


@pytest.mark.parametrize("index", range(3))
def test_code_object_fields(testmod, index):
    code = testmod.code_objects()[index]
    name, argcount, varnames = EXPECTED[index]
    firstlineno = line(name)
    assert code.co_name == name
    assert code.co_filename == SOURCE_FILE
    assert code.co_argcount == argcount
    assert code.co_posonlyargcount == 0 and code.co_kwonlyargcount == 0
    assert code.co_varnames == varnames
    assert code.co_nlocals == len(varnames)
    assert code.co_firstlineno == firstlineno
    assert code.co_flags & 0x3 == 0x3  # optimized, new locals
    if HAS_LNOTAB:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)  # co_lnotab from 3.12
            assert code.co_lnotab == b""
    else:
        assert not hasattr(code, "co_lnotab")
    assert code.co_consts == () and code.co_names == ()
    assert code.co_freevars == () and code.co_cellvars == ()
    if RUNS_UNCHECKED_BYTE_CODE:
        # The interpreter's own empty code object for that place: byte code
        # that raises, all of it on the first line.
        empty = EMPTY_CODE.replace(co_firstlineno=firstlineno)
        assert code.co_code == empty.co_code and code.co_stacksize == empty.co_stacksize
        assert code.co_linetable == empty.co_linetable
    else:
        assert code.co_code == b"" and code.co_stacksize == 0


# From 3.11 the interpreter runs a code object's byte code unchecked and reads
# its line table for tracebacks, so the methods' code objects carry what the
# interpreter's own empty code object has (compile("", ...) has the same
# shape: nothing but the raising or returning instructions).
RUNS_UNCHECKED_BYTE_CODE = sys.version_info >= (3, 11)
EMPTY_CODE = None


@pytest.fixture(autouse=True, scope="module")
def empty_code(testmod):
    global EMPTY_CODE
    EMPTY_CODE = testmod.empty_code()


@pytest.mark.parametrize("index", range(3))
def test_running_a_methods_code_raises_and_its_traceback_formats(testmod, index):
    import traceback
    code = testmod.code_objects()[index]
    function = types.FunctionType(code, {})
    args = [object()] * code.co_argcount
    for _ in range(2):
        with pytest.raises(Exception) as info:
            function(*args)
        text = "".join(traceback.format_exception(info.type, info.value, info.tb))
        assert f'File "{SOURCE_FILE}", line {EXPECTED_LINE(code)}, in {code.co_name}' in text


# 3.10 reads lines from a line table that is empty here, as in its own empty
# code objects: the entry has no line (-1) there.
def EXPECTED_LINE(code):
    return -1 if sys.version_info[:2] == (3, 10) else code.co_firstlineno


def test_names_come_from_the_constant_table(testmod):
    strings = testmod.strings()
    finish, get, post = testmod.code_objects()
    # The interpreter may intern a code object's file name, handing it an
    # equal copy interned earlier (a traceback entry's): equal, not always
    # the same object.
    assert finish.co_filename == strings[9]
    assert get.co_name is strings[44] and post.co_name is strings[66]
    assert get.co_varnames[0] is strings[72]
