"""The Tamo image library on NumPy arrays.

Every ``tamo`` subcommand but ``batch``, ``convert`` and ``info`` is a function
of the same name: images are positional, the subcommand's long options are
keywords (dashes as underscores) with the same defaults, and the result is the
same bytes that ``tamo`` writes. ``read``, ``write`` and ``info`` handle files.
The functions, their keywords and their docstrings come from the tool's own
command table.
"""

import inspect as _inspect
import os as _os
import re as _re
import tempfile as _tempfile

import numpy as _np

from . import _tamo
from ._memmap import memmap

__version__ = _tamo.__version__
Error = _tamo.Error

# What the functions do beyond the tool's command line, in one place:
# "values" are numbers the command prints that the function returns after
# its images, with their Python type (ccl's label count; ifneg returns its
# answer alone); "results" are options naming a file the command also
# writes, returned instead; "files" options name files the command writes;
# "copy" names the data type of inputs that a command writes into (those
# it works on as they are, not converted): such inputs are copied first.
_EXTRAS = {
    "ccl": {"values": {"count": int}, "files": ("areas",)},
    "ifneg": {"values": {"negative": bool}},
    "pcon": {"results": ("data-out",), "copy": "float"},
    "fft": {"copy": "32cmp"},
    "ifft": {"copy": "32cmp"},
}
_NOT_FUNCTIONS = ("batch", "convert", "info")


def _positionals(help_text, name):
    """The positional arguments of a command from its usage line."""
    usage = help_text.split("\n", 1)[0]
    words = usage.split()[usage.split().index(name) + 1:]
    names = []
    for word in words:
        if word.startswith("[") or word.startswith("-"):
            break
        names.append(word)
    return names


# "(default 1)", "; default 0", "(default \"32bit\")", or a value before
# "(default)": "0 (default): one histogram", "0 bilinear interpolation (default)".
_DEFAULTS = (_re.compile(r'(?:\(|;\s)default:?\s(?:"([^"]+)"|(-?[0-9][0-9.]*))'),
             _re.compile(r'\s(-?[0-9][0-9.]*)[^,;()\n]*\(default\)'))


def _option_default(help_text, option):
    """The default an option's help text states, as a number or text; None
    when it states none."""
    found = _re.search(r"^\s+--%s\b(.*?)(?=\n\s+--|\n\n|\Z)" % _re.escape(option), help_text,
                       _re.M | _re.S)
    if not found:
        return None
    for pattern in _DEFAULTS:
        value = pattern.search(found.group(1))
        if value:
            text = next(v for v in value.groups() if v is not None)
            for kind in (int, float):
                try:
                    return kind(text)
                except ValueError:
                    pass
            return text
    return None


# Names of the images in signatures where the usage line's are not Python's.
_PARAMETER_NAMES = {"IN": "image"}


def _refusal(message):
    """A tamo.Error for arguments refused before the command runs (code 2,
    as tamo's for its command line)."""
    error = Error(message)
    error.code = 2
    return error


def _option_text(name, value):
    if isinstance(value, (bool, _np.bool_)):
        raise _refusal(f"option {name!r} needs a value, not {value!r}")
    if isinstance(value, (float, _np.floating)):
        return repr(float(value))
    if isinstance(value, (int, _np.integer)):
        return str(int(value))
    return str(value)


def _check_writable(path):
    """Raises the OSError that writing `path` would meet (missing or
    unwritable folder) before the command runs; the file itself is only
    replaced when complete."""
    folder = _os.path.dirname(_os.path.abspath(path))
    fd, probe = _tempfile.mkstemp(dir=folder, prefix=".tamo-probe-")
    _os.close(fd)
    _os.unlink(probe)


def _check_readable(path):
    if path != "-":
        open(path, "rb").close()


_PATHS = (str, _os.PathLike)


def _readable_path(image):
    """An image given as a file name: the name, once the file is known to be
    readable (else the matching OSError); arrays as they are."""
    if not isinstance(image, _PATHS):
        return image
    path = _os.fspath(image)
    _check_readable(path)
    return path


def _make_function(entry):
    name, help_text = entry["name"], entry["help"]
    extras = _EXTRAS.get(name, {})
    arguments = _positionals(help_text, name)
    inputs = [a for a in arguments if a != "OUT"]
    has_out = "OUT" in arguments
    results = extras.get("results", ())
    values = extras.get("values", {})
    valued = [o for o in entry["valued"] if o not in results]
    switches = list(entry["switches"])
    keywords = {o.replace("-", "_"): o for o in valued + switches}
    single = has_out and not results and not values

    run = _tamo.run
    copy = extras.get("copy", "")
    files = extras.get("files", ())
    value_kinds = tuple(values.items())
    # OUT is the last argument of every command that has one.
    tail = (None,) if has_out else ()

    def keywords_to_options(kwargs):
        options, given = {}, []
        for key, value in kwargs.items():
            option = keywords.get(key)
            if option is None:
                raise TypeError(f"{name}() got an unexpected keyword argument {key!r}")
            if option in switches:
                if value:
                    given.append(option)
            elif value is not None:
                options[option] = _option_text(key, value)
        for option in files:
            if option in options:
                _check_writable(options[option])
        return options, given

    def function(*images, out=None, **kwargs):
        if len(images) != len(inputs):
            raise TypeError(f"{name}() takes {len(inputs)} image(s) ({', '.join(inputs)}), "
                            f"{len(images)} given")
        for image in images:
            if isinstance(image, _PATHS):
                images = tuple(map(_readable_path, images))
                break
        options, given = keywords_to_options(kwargs) if kwargs else ({}, [])
        for option in results:
            options[option] = None
        arrays, numbers = run(name, images + tail, options, given, copy)
        if single:
            return arrays[0] if out is None else _into(name, out, arrays[0])
        if out is not None:
            raise TypeError(f"{name}() has no out= (it gives several results)")
        found = tuple(arrays) + tuple(kind(numbers[v]) for v, kind in value_kinds)
        return found[0] if len(found) == 1 else found

    parameters = [_inspect.Parameter(_PARAMETER_NAMES.get(a, a.lower()),
                                     _inspect.Parameter.POSITIONAL_ONLY) for a in inputs]
    for key, option in keywords.items():
        default = False if option in switches else _option_default(help_text, option)
        parameters.append(_inspect.Parameter(key, _inspect.Parameter.KEYWORD_ONLY,
                                             default=default))
    if single:
        parameters.append(_inspect.Parameter("out", _inspect.Parameter.KEYWORD_ONLY,
                                             default=None))
    function.__signature__ = _inspect.Signature(parameters)
    function.__name__ = function.__qualname__ = name
    function.__doc__ = help_text
    function.__module__ = __name__
    return function


def _into(name, out, result):
    if not isinstance(out, _np.ndarray) or out.shape != result.shape or \
            out.dtype != result.dtype:
        raise _refusal(f"{name}: out= must be an array of shape {result.shape} and dtype "
                       f"{result.dtype}")
    _np.copyto(out, result, casting="no")
    return out


_COMMANDS = [c for c in _tamo.commands() if c["name"] not in _NOT_FUNCTIONS]
for _entry in _COMMANDS:
    globals()[_entry["name"]] = _make_function(_entry)
del _entry


def read(path, type=None):
    """The image in the file `path` as an array, as ``tamo convert`` would
    write it to a .npy file: (rows, columns), or (frames, rows, columns) for
    three dimensions. Own-format, TIFF and .npy files keep their data type
    unless `type` names another; a picture (PNG, JPEG, ...) is read as the
    workbench reads it, float32 of shape (3, rows, columns): red, green, blue.
    Data types map to dtypes one to one ("u8bit" uint8, "8bit" int8, "u16bit"
    uint16, "16bit" int16, "32bit" int32, "float" float32, "64flt" float64,
    "32cmp" complex64, "64cmp" complex128); others are refused."""
    path = _os.fspath(path)
    _check_readable(path)
    options = {} if type is None else {"type": str(type)}
    arrays, _ = _tamo.run("convert", (path, None), options, [], "")
    return arrays[0]


def write(path, array, type=None, compress=None):
    """Writes `array` to `path` in the format its suffix names, as ``tamo
    convert`` does: own format (.tamo, .orv, ...), TIFF, .npy, or a picture
    (2-D grey, 3 frames colour, values clamped to 0..255). `type` converts
    the data type first; `compress` True or False asks for compressed or
    plain own-format or TIFF data (default: own format compressed, TIFF
    plain)."""
    path = _os.fspath(path)
    _check_writable(path)
    options = {} if type is None else {"type": str(type)}
    switches = [] if compress is None else ["compress" if compress else "no-compress"]
    _tamo.run("convert", (array, path), options, switches, "")


def info(path):
    """Header facts and per-frame statistics of an image file, as ``tamo
    info`` prints them: a dict with "type", "dimensions" (columns, rows,
    frames), "compressed" and "frames" (a dict of min, max, mean and stddev
    for each frame, channel or the real parts)."""
    path = _os.fspath(path)
    _check_readable(path)
    return _tamo.info(path)


def set_threads(n=None):
    """Caps the threads every operator uses at `n` (None: every processor),
    as TAMO_THREADS does."""
    if n is None:
        _os.environ.pop("TAMO_THREADS", None)
        return
    if int(n) < 1:
        raise _refusal("set_threads: the count must be at least 1")
    _os.environ["TAMO_THREADS"] = str(int(n))


__all__ = [c["name"] for c in _COMMANDS] + [
    "Error", "read", "write", "info", "set_threads", "memmap", "__version__"]
