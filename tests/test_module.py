"""The module object, its classes and the rules every call across the boundary follows."""

import importlib
import importlib.util
import os
import subprocess
import pathlib
import sys
import textwrap
from typing import Any, Callable, Dict, Tuple

import pytest

from tarnu import hivebuilder as hb
import tarnu
from conftest import OpenImage, WriteFile

CLASSES = ["Hive", "RegistryKey", "RegistryValue", "ValueData", "ValueType", "BaseBlock", "HbinHeader"]


@pytest.fixture
def hive(open_image: OpenImage) -> tarnu.Hive:
    return open_image(hb.base_block(hive_bins_data_size=0x1000) + hb.hbin_header(0) + bytes(4064))


def test_import_returns_one_module_object() -> None:
    first = tarnu
    assert importlib.import_module("tarnu") is first
    assert importlib.reload(tarnu) is first
    del sys.modules["tarnu"]
    try:
        again = importlib.import_module("tarnu")
    finally:
        sys.modules["tarnu"] = first
    assert again is first and again.Hive is first.Hive


def test_module_attributes() -> None:
    assert tarnu.__version__ == "0.1.0"
    assert tarnu.__all__ == CLASSES + ["__version__"]
    assert tarnu.__doc__ == "Python module definition"
    assert not hasattr(tarnu, "open")
    assert not hasattr(tarnu, "InternalFault")
    # The package's pure-Python modules become attributes once imported; the classes are always there.
    assert set(CLASSES) <= {n for n in dir(tarnu) if not n.startswith("_")}


def test_value_type_names_in_a_fresh_interpreter() -> None:
    # RegType and the REG_* constants: listed before their first use, the same objects however they are reached.
    script = textwrap.dedent("""
        import tarnu
        before = dir(tarnu)
        from tarnu import REG_SZ
        assert REG_SZ is tarnu.RegType.REG_SZ is tarnu.RegType(1) and tarnu.REG_QWORD == 11
        assert dir(tarnu) == before and {"RegType", "REG_NONE", "REG_QWORD"} <= set(before)
        try:
            tarnu.REG_UNKNOWN
        except AttributeError as error:
            print(error)
    """)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120,
                            env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    assert (result.stderr, result.stdout) == ("", "module 'tarnu' has no attribute 'REG_UNKNOWN'\n")


def test_second_interpreter_cannot_import(tmp_path: pathlib.Path) -> None:
    name = next((n for n in ("_interpreters", "_xxsubinterpreters") if importlib.util.find_spec(n)), None)
    if name is None:
        pytest.skip("no sub-interpreter support in this Python")
    # Run in a child process: a sub-interpreter going wrong must not take the test run with it.
    out = str(tmp_path / "result.txt")
    inner = ("try:\n    import tarnu\n    r = 'imported'\nexcept ImportError as e:\n    r = str(e)\n"
             "open(%r, 'w').write(r)\n" % out)
    script = textwrap.dedent("""
        import tarnu, {name} as si
        interp = si.create()
        si.run_string(interp, {inner!r})
        si.destroy(interp)
    """).format(name=name, inner=inner)
    subprocess.run([sys.executable, "-c", script], check=True, timeout=120,
                   env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    with open(out) as f:
        assert f.read() == "tarnu cannot be loaded in more than one interpreter per process"


@pytest.mark.parametrize("name", CLASSES)
def test_class_identity_and_no_constructor(name: str) -> None:
    cls = getattr(tarnu, name)
    assert cls.__module__ == "builtins" and cls.__name__ == cls.__qualname__ == name
    if name.startswith("Registry"):  # these two add a sentence about what they hold
        assert cls.__doc__.startswith("Python wrapper for %s\n\n" % name)
    else:
        assert cls.__doc__ == "Python wrapper for " + name
    call: Callable[[], object]
    for call in (lambda: cls(), lambda: cls(1, key=2), lambda: cls.__new__(cls)):
        with pytest.raises(TypeError, match="^No constructor defined$"):
            call()


@pytest.mark.parametrize("name, signature, doc", [
    ("open", "(path, *, ignore_checksum=False)", "Open a registry hive file"),
    ("open_with_logs", "(hive_path, log1_path=None, log2_path=None)",
     "Open a registry hive with transaction logs applied"),
    ("base_block", "($self)", "Get the base block (header) information"),
    ("root_key", "($self)", "Get the root key of the hive"),
    ("hbins", "($self)", "Get all hbin headers"),
    ("save", "($self, path)", "Save the hive to a file"),
])
def test_hive_method_signatures(name: str, signature: str, doc: str) -> None:
    method = getattr(tarnu.Hive, name)
    assert method.__text_signature__ == signature
    assert method.__doc__ == doc


@pytest.mark.parametrize("cls, name, doc", [
    ("BaseBlock", "signature", 'Get the signature (should be "regf")'),
    ("BaseBlock", "primary_sequence", "Get the primary sequence number"),
    ("BaseBlock", "secondary_sequence", "Get the secondary sequence number"),
    ("BaseBlock", "root_cell_offset", "Get the root cell offset"),
    ("BaseBlock", "hive_length", "Get the hive length (size of hive data in bytes)"),
    ("BaseBlock", "file_name", "Get the file name"),
    ("BaseBlock", "hive_bins_data_size", "Get the hive bins data size (same as hive_length)"),
    ("HbinHeader", "signature", 'Get the signature (should be "hbin")'),
    ("HbinHeader", "offset", "Get the offset from the start of the hive bins data"),
    ("HbinHeader", "size", "Get the size of this hbin"),
])
def test_attribute_docstrings(cls: str, name: str, doc: str) -> None:
    assert getattr(getattr(tarnu, cls), name).__doc__ == doc


def test_instances_have_no_settable_attributes(hive: tarnu.Hive) -> None:
    block, header = hive.base_block(), hive.hbins()[0]
    for obj, name in [(block, "signature"), (block, "hive_length"), (block, "file_name"), (header, "offset")]:
        with pytest.raises(AttributeError):
            setattr(obj, name, 1)
        with pytest.raises(AttributeError):
            delattr(obj, name)
    for obj in (hive, block, header):
        with pytest.raises(AttributeError):
            obj.extra = 1  # type: ignore[union-attr]
    assert block.hive_length == 0x1000 and header.offset == 0


def test_receiver_type_is_checked(hive: tarnu.Hive) -> None:
    for call in (lambda: tarnu.Hive.root_key(object()),  # type: ignore[arg-type]
                 lambda: tarnu.Hive.hbins(hive.base_block()),  # type: ignore[arg-type]
                 lambda: tarnu.Hive.base_block(1),  # type: ignore[arg-type]
                 lambda: tarnu.Hive.save("not a hive", "x"),  # type: ignore[arg-type]
                 lambda: tarnu.Hive.__repr__(object()), lambda: tarnu.BaseBlock.signature.__get__(hive),
                 lambda: tarnu.HbinHeader.size.__get__(hive.base_block())):
        with pytest.raises(TypeError):
            call()


# ---- argument taking ----------------------------------------------------------------------------------------

@pytest.mark.parametrize("args, kwargs, message", [
    ((), {}, "Hive.open() missing 1 required positional argument: 'path'"),
    (("a", "b"), {}, "Hive.open() takes 1 positional arguments but 2 were given"),
    ((), {"mode": "r"}, "Hive.open() got an unexpected keyword argument 'mode'"),
    (("a",), {"mode": "r"}, "Hive.open() got an unexpected keyword argument 'mode'"),
    (("a",), {"path": "b"}, "Hive.open() got multiple values for argument 'path'"),
])
def test_open_argument_errors(args: Tuple[Any, ...], kwargs: Dict[str, Any], message: str) -> None:
    with pytest.raises(TypeError) as info:
        tarnu.Hive.open(*args, **kwargs)
    assert str(info.value) == message


@pytest.mark.parametrize("args, kwargs, message", [
    ((), {}, "Hive.open_with_logs() missing 1 required positional argument: 'hive_path'"),
    (("a", None, None, None), {}, "Hive.open_with_logs() takes from 1 to 3 positional arguments but 4 were given"),
    (("a",), {"log3_path": None}, "Hive.open_with_logs() got an unexpected keyword argument 'log3_path'"),
    (("a", None), {"log1_path": None}, "Hive.open_with_logs() got multiple values for argument 'log1_path'"),
    ((), {"log1_path": "x"}, "Hive.open_with_logs() missing 1 required positional argument: 'hive_path'"),
])
def test_open_with_logs_argument_errors(args: Tuple[Any, ...], kwargs: Dict[str, Any], message: str) -> None:
    with pytest.raises(TypeError) as info:
        tarnu.Hive.open_with_logs(*args, **kwargs)
    assert str(info.value) == message


@pytest.mark.parametrize("value", [b"/tmp/x", bytearray(b"x"), 7, 1.5])
@pytest.mark.parametrize("call, name", [
    (lambda v: tarnu.Hive.open(v), "path"),
    (lambda v: tarnu.Hive.open(path=v), "path"),
    (lambda v: tarnu.Hive.open_with_logs(v), "hive_path"),
    (lambda v: tarnu.Hive.open_with_logs("h", log2_path=v), "log2_path"),
])
def test_path_must_be_str(call: Callable[[object], tarnu.Hive], name: str, value: object) -> None:
    with pytest.raises(TypeError) as info:
        call(value)
    assert str(info.value).startswith("argument '%s': " % name)


@pytest.mark.parametrize("call", [lambda: tarnu.Hive.open(None),  # type: ignore[arg-type]
                                  lambda: tarnu.Hive.open_with_logs(None)])  # type: ignore[arg-type]
def test_none_is_not_a_hive_path(call: Callable[[], tarnu.Hive]) -> None:
    with pytest.raises(TypeError, match="^argument '(hive_)?path': "):
        call()


def test_lone_surrogate_path_raises_encoding_error() -> None:
    with pytest.raises(UnicodeEncodeError):
        tarnu.Hive.open("hive\udc80")


def test_str_subclass_and_keyword_path(write_file: WriteFile) -> None:
    class PathText(str):
        pass

    path = write_file(hb.base_block())
    for hive in (tarnu.Hive.open(PathText(path)), tarnu.Hive.open(path=path), tarnu.Hive.open_with_logs(path)):
        assert repr(hive) == "Hive(root_offset=0x20, hive_length=0x0)"


@pytest.mark.parametrize("args, kwargs, message", [
    ((), {}, "Hive.save() missing 1 required positional argument: 'path'"),
    (("a", "b"), {}, "Hive.save() takes 1 positional arguments but 2 were given"),
    ((), {"target": "a"}, "Hive.save() got an unexpected keyword argument 'target'"),
    (("a",), {"path": "a"}, "Hive.save() got multiple values for argument 'path'"),
    ((b"a",), {}, "argument 'path': "),
])
def test_save_argument_errors(hive: tarnu.Hive, tmp_path: pathlib.Path, monkeypatch: pytest.MonkeyPatch,
                              args: Tuple[Any, ...], kwargs: Dict[str, Any], message: str) -> None:
    (tmp_path / "out").mkdir()
    monkeypatch.chdir(tmp_path / "out")
    with pytest.raises(TypeError) as info:
        hive.save(*args, **kwargs)
    assert str(info.value).startswith(message) and (message.endswith(": ") or str(info.value) == message)
    assert os.listdir(".") == []
