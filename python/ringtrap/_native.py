"""Finding and loading libringtrap, and the prototypes of its C interface."""
from __future__ import annotations

import ctypes
import ctypes.util
import os
import threading
from pathlib import Path
from typing import Callable, List, Mapping, Optional, Sequence, Tuple

PACKAGE_DIR = Path(__file__).resolve().parent
ENV_VARIABLE = "RINGTRAP_LIBRARY"


class LibraryNotFoundError(OSError):
    """libringtrap could not be loaded; the message lists every place tried."""


def candidates(package_dir: Path, environ: Mapping[str, str],
               find_library: Callable[[str], Optional[str]]) -> List[Tuple[str, Optional[str]]]:
    """Where to look, in order, as (where, file name) pairs: a library next to
    the package, then $RINGTRAP_LIBRARY, then the loader's search
    (find_library's answer, then the versioned name itself). A None file name
    records a place that offered nothing, for the error message."""
    found: List[Tuple[str, Optional[str]]] = [
        ("next to the package", str(p)) for p in sorted(package_dir.glob("libringtrap.so*"), key=lambda p: len(p.name))]
    if not found:
        found.append((f"next to the package: no {package_dir}/libringtrap.so*", None))
    found.append((f"${ENV_VARIABLE}", environ[ENV_VARIABLE]) if environ.get(ENV_VARIABLE)
                 else (f"${ENV_VARIABLE}: not set", None))
    located = find_library("ringtrap")
    found.append(("ctypes.util.find_library", located) if located
                 else ("ctypes.util.find_library('ringtrap'): nothing found", None))
    found.append(("the loader's search path", "libringtrap.so.0"))
    return found


def load(places: Sequence[Tuple[str, Optional[str]]],
         opener: Callable[[str], ctypes.CDLL] = ctypes.CDLL) -> Tuple[ctypes.CDLL, str]:
    """The library from the first place that loads, with its file name;
    LibraryNotFoundError naming every place and why it failed otherwise."""
    failures = []
    for where, name in places:
        if name is None:
            failures.append(f"  {where}")
            continue
        try:
            return opener(name), name
        except OSError as error:
            failures.append(f"  {name} ({where}): {error}")
    raise LibraryNotFoundError(
        "cannot load libringtrap; tried:\n" + "\n".join(failures) +
        f"\nBuild it with 'make python' in the source tree, or set {ENV_VARIABLE} to its path.")


c_size_p = ctypes.POINTER(ctypes.c_size_t)
c_int32_p = ctypes.POINTER(ctypes.c_int32)
c_bytes = ctypes.c_void_p  # byte arrays are passed as addresses (bytes, bytearray or ctypes buffers)


class Params(ctypes.Structure):
    """struct ringtrap_params of sig_api.h."""
    _fields_ = [("n", ctypes.c_int64), ("q", ctypes.c_int64), ("k", ctypes.c_int64),
                ("gadget_base", ctypes.c_int64), ("trapdoor_sigma", ctypes.c_double),
                ("gadget_sigma", ctypes.c_double), ("signature_sigma", ctypes.c_double),
                ("bound_squared", ctypes.c_int64), ("level", ctypes.c_int32),
                ("key_independent", ctypes.c_int32)]


_PROTOTYPES = {
    "ringtrap_version": (ctypes.c_char_p, []),
    "ringtrap_error_message": (ctypes.c_char_p, [ctypes.c_int32]),
    "ringtrap_sizes": (ctypes.c_int32, [ctypes.c_int32, c_size_p, c_size_p, c_size_p]),
    "ringtrap_level_of": (ctypes.c_int32, [ctypes.c_int32, ctypes.c_size_t, c_int32_p]),
    "ringtrap_parameters": (ctypes.c_int32, [ctypes.c_int32, ctypes.POINTER(Params), ctypes.c_size_t]),
    "ringtrap_keygen": (ctypes.c_int32, [ctypes.c_int32, c_bytes, ctypes.c_size_t, c_bytes, ctypes.c_size_t]),
    "ringtrap_signer_new": (ctypes.c_int32, [c_bytes, ctypes.c_size_t, c_bytes, ctypes.c_size_t,
                                             ctypes.POINTER(ctypes.c_void_p)]),
    "ringtrap_signer_sign": (ctypes.c_int32, [ctypes.c_void_p, c_bytes, ctypes.c_size_t, c_bytes,
                                              ctypes.c_size_t, c_size_p]),
    "ringtrap_signer_free": (None, [ctypes.c_void_p]),
    "ringtrap_verifier_new": (ctypes.c_int32, [c_bytes, ctypes.c_size_t, ctypes.POINTER(ctypes.c_void_p)]),
    "ringtrap_verifier_verify": (ctypes.c_int32, [ctypes.c_void_p, c_bytes, ctypes.c_size_t, c_bytes,
                                                  ctypes.c_size_t, c_int32_p]),
    "ringtrap_verifier_free": (None, [ctypes.c_void_p]),
    "ringtrap_decode_signature": (ctypes.c_int32, [c_bytes, ctypes.c_size_t, ctypes.POINTER(ctypes.c_int64),
                                                   ctypes.c_size_t, c_size_p]),
}

_lock = threading.Lock()
_library: Optional[ctypes.CDLL] = None
_library_path: Optional[str] = None


def library() -> ctypes.CDLL:
    """The loaded library (loaded on first use, once per process)."""
    global _library, _library_path
    with _lock:
        if _library is None:
            lib, path = load(candidates(PACKAGE_DIR, os.environ, ctypes.util.find_library))
            for name, (restype, argtypes) in _PROTOTYPES.items():
                try:
                    function = getattr(lib, name)
                except AttributeError:
                    raise LibraryNotFoundError(f"{path} has no {name}: it is an older libringtrap") from None
                function.restype = restype
                function.argtypes = argtypes
            _library, _library_path = lib, path
        return _library


def library_path() -> str:
    """The file name the library was loaded from (loading it if need be)."""
    library()
    assert _library_path is not None
    return _library_path
