"""The handler methods' records against the plain-Python handler: the globals
each method reads, and the lines its traceback entries name."""
import ast
import dis
import os
import types

from helpers import line

PLAIN_HANDLER = os.path.join(os.path.dirname(__file__), os.pardir, "bench",
                             "plain_workspace_handler.py")
MOST_LINKS = 2  # attributes a reading place caches after its global


def plain_source():
    with open(PLAIN_HANDLER, encoding="utf-8") as f:
        return f.read()


def imported_names(tree):
    """The module globals the plain module's import statements bind."""
    names = set()
    for node in tree.body:
        if isinstance(node, (ast.Import, ast.ImportFrom)):
            names.update((alias.asname or alias.name).split(".")[0] for alias in node.names)
    return names


def reads_of(code, imported):
    """Each read of an imported global in `code` and the code objects inside
    it, with the attributes read right after it (as far as a place caches)."""
    reads = []
    instructions = list(dis.get_instructions(code))
    for i, instruction in enumerate(instructions):
        if instruction.opname != "LOAD_GLOBAL" or instruction.argval not in imported:
            continue
        chain = [instruction.argval]
        for after in instructions[i + 1:i + 1 + MOST_LINKS]:
            if after.opname not in ("LOAD_ATTR", "LOAD_METHOD"):
                break
            chain.append(after.argval)
        reads.append(tuple(chain))
    for const in code.co_consts:
        if isinstance(const, types.CodeType):
            reads += reads_of(const, imported)
    return reads


def plain_methods():
    """(name, reads) of each method of the plain handler, in class order."""
    source = plain_source()
    tree = ast.parse(source)
    imported = imported_names(tree)
    (class_node,) = [n for n in tree.body if isinstance(n, ast.ClassDef)]
    names = [n.name for n in class_node.body if isinstance(n, ast.FunctionDef)]
    module = compile(source, PLAIN_HANDLER, "exec")
    (cls,) = [c for c in module.co_consts
              if isinstance(c, types.CodeType) and c.co_name == class_node.name]
    codes = {c.co_name: c for c in cls.co_consts if isinstance(c, types.CodeType)}
    return [(name, reads_of(codes[name], imported)) for name in names]


def test_each_method_reads_the_globals_the_plain_handler_reads(testmod):
    plain = plain_methods()
    records = testmod.method_reads()
    assert len(records) == len(plain)
    for (name, plain_reads), record_reads in zip(plain, records):
        # One reading place per read in the source, each reading what the
        # source reads there; the order of the byte code is not the source's.
        assert sorted(record_reads) == sorted(plain_reads), name


def test_each_methods_lines_lie_inside_it(testmod):
    names = [name for name, _ in plain_methods()]
    lines = testmod.source_lines()
    defs = [line(name) for name in names]
    assert defs == sorted(defs) and line("class") < defs[0]
    module_lines = [at for key, at in lines.items() if key.split(".")[0] not in names]
    assert max(module_lines) == line("class")
    for i, name in enumerate(names):
        end = defs[i + 1] if i + 1 < len(names) else float("inf")
        inside = {key: at for key, at in lines.items() if key.startswith(name + ".")}
        assert inside, name
        assert all(defs[i] < at < end for at in inside.values()), (name, inside)
