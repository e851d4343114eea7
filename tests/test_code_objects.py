"""The three method code objects made at load."""
import pytest

SOURCE_FILE = "corvanix/server/handlers/zorvik/workspace_handler.py"

EXPECTED = [
    ("_finish_with_result", 3, ("self", "status_code", "result"), 34),
    ("get", 1, ("self", "joined_workspaces", "exp", "status_code", "message", "e", "workspaces", "workspace"), 44),
    ("post", 1, ("self", "data", "workspace_id", "exp", "status_code", "message", "e"), 66),
]


@pytest.mark.parametrize("index", range(3))
def test_code_object_fields(testmod, index):
    code = testmod.code_objects()[index]
    name, argcount, varnames, firstlineno = EXPECTED[index]
    assert code.co_name == name
    assert code.co_filename == SOURCE_FILE
    assert code.co_argcount == argcount
    assert code.co_posonlyargcount == 0 and code.co_kwonlyargcount == 0
    assert code.co_varnames == varnames
    assert code.co_nlocals == len(varnames)
    assert code.co_firstlineno == firstlineno
    assert code.co_flags & 0x3 == 0x3  # optimized, new locals
    assert code.co_lnotab == b"" and code.co_code == b""
    assert code.co_consts == () and code.co_names == ()
    assert code.co_freevars == () and code.co_cellvars == ()
    assert code.co_stacksize == 0


def test_names_come_from_the_constant_table(testmod):
    strings = testmod.strings()
    finish, get, post = testmod.code_objects()
    assert finish.co_filename is strings[9]
    assert get.co_name is strings[44] and post.co_name is strings[66]
    assert get.co_varnames[0] is strings[72]
