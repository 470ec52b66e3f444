"""Writes the type stub of the package (__init__.pyi) from the command table:
``python3 -m tamo._stub > python/tamo/__init__.pyi``. The tests check that
the committed stub is this text."""

import inspect

import tamo

HEAD = '''"""Type stub of the tamo package, written by tamo._stub from the tool's
command table."""

from os import PathLike
from typing import Any, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str
Path = Union[str, PathLike[str]]
Image = Union[npt.ArrayLike, Path]

class Error(ValueError):
    code: int

def read(path: Path, type: Optional[str] = ...) -> np.ndarray: ...
def write(path: Path, array: Image, type: Optional[str] = ...,
          compress: Optional[bool] = ...) -> None: ...
def info(path: Path) -> dict[str, Any]: ...
def set_threads(n: Optional[int] = ...) -> None: ...
def memmap(path: Path, mode: str = ..., shape: Optional[Tuple[int, ...]] = ...,
           dtype: Any = ...) -> np.memmap: ...
'''


def _annotation(default):
    if isinstance(default, bool):
        return "bool"
    # The help texts do not say which numbers must be whole: an int is a
    # float to a type checker, and tamo refuses 1.5 for a count itself.
    if isinstance(default, (int, float)):
        return "float"
    if isinstance(default, str):
        return "str"
    # Options without a default are numbers (rows, cols, map, ...), but for
    # the files named in _EXTRAS.
    return "Optional[float]"


def _result(name, parameters):
    if name == "ifneg":
        return "bool"
    extras = tamo._EXTRAS.get(name, {})
    count = len(extras.get("results", ())) + 1
    kinds = ["np.ndarray"] * count + [k.__name__ for k in extras.get("values", {}).values()]
    return kinds[0] if len(kinds) == 1 else "Tuple[%s]" % ", ".join(kinds)


def stub_text():
    lines = [HEAD]
    for entry in tamo._COMMANDS:
        name = entry["name"]
        function = getattr(tamo, name)
        words = []
        parameters = inspect.signature(function).parameters.values()
        for p in parameters:
            if p.kind == p.POSITIONAL_ONLY:
                words.append(f"{p.name}: Image")
        words.append("/")
        keyword = [p for p in parameters if p.kind == p.KEYWORD_ONLY]
        if keyword:
            words.append("*")
        files = [f.replace("-", "_") for f in tamo._EXTRAS.get(name, {}).get("files", ())]
        for p in keyword:
            if p.name == "out":
                kind = "Optional[np.ndarray]"
            elif p.name in files:
                kind = "Optional[Path]"
            else:
                kind = _annotation(p.default)
            words.append(f"{p.name}: {kind} = ...")
        lines.append(f"def {name}({', '.join(words)}) -> {_result(name, parameters)}:")
        lines.append(f'    """{entry["summary"]}"""')
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    print(stub_text(), end="")
