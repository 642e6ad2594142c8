"""The package as a user meets it: its names, its stubs, its version."""

import ast
import inspect
import pathlib

import tplforge
from conftest import cli

STUB = pathlib.Path(tplforge.__file__).with_name("__init__.pyi")


def stub_definitions():
    tree = ast.parse(STUB.read_text())
    return {node.name: ast.get_docstring(node) for node in tree.body
            if isinstance(node, (ast.FunctionDef, ast.ClassDef))}


def runtime_doc(thing):
    doc = inspect.cleandoc(thing.__doc__ or "")
    # pybind11 puts the signature first.
    name = getattr(thing, "__name__", "")
    if doc.startswith(name + "("):
        doc = doc.split("\n", 1)[1].strip() if "\n" in doc else ""
    return doc


def test_the_stubs_declare_every_public_name_and_nothing_else():
    public = set(tplforge.__all__) - {"__version__"}
    assert set(stub_definitions()) == public
    assert all(hasattr(tplforge, name) for name in public)


def test_the_stubs_say_what_help_says():
    for name, doc in stub_definitions().items():
        assert doc, f"{name} has no docstring in the stubs"
        assert runtime_doc(getattr(tplforge, name)) == doc, name


def test_every_error_is_a_tplforge_error():
    errors = [getattr(tplforge, n) for n in tplforge.__all__ if n.endswith("Error")]
    assert len(errors) == 7
    assert all(issubclass(e, tplforge.Error) and issubclass(e, Exception) for e in errors)
    assert all(e.__module__ == "tplforge" for e in errors)


def test_the_version_is_the_programs():
    assert cli("--version").stdout.split() == ["tplforge-cli", tplforge.__version__]
    assert all(part.isdigit() for part in tplforge.__version__.split(".")) and tplforge.__version__.count(".") == 2
