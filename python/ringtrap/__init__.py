"""ringtrap: lattice-based hash-and-sign signatures, from Python.

A binding of libringtrap's stateless C interface (sig_api.h) through ctypes;
standard library only. Levels are "s128" (the default), "s256" (key-independent,
constant-time: use these for new keys), "128" and "256" (the original sets,
whose signatures reveal the secret key after a few hundred).

    import ringtrap
    with ringtrap.generate_keypair("s128") as pair:
        with ringtrap.SigningKey.from_bytes(pair.secret_key, pair.public_key) as signer:
            signature = signer.sign(b"message")
    assert ringtrap.VerifyingKey.from_bytes(pair.public_key).verify(signature, b"message")

Errors raise RingtrapError, whose .code is an ErrorCode (the library's code).
Calls release the interpreter lock: key objects may be shared by threads.
"""
from __future__ import annotations

import array
import ctypes
import enum
import threading
from contextlib import contextmanager
from types import TracebackType
from typing import Any, Dict, Iterator, NamedTuple, Optional, Tuple, Type, TypeVar, Union

from ._native import LibraryNotFoundError, Params, library, library_path

__all__ = [
    "LEVELS", "ErrorCode", "RingtrapError", "LibraryNotFoundError", "Sizes", "Parameters", "KeyPair",
    "SigningKey", "VerifyingKey", "generate_keypair", "sizes", "parameters", "decode_signature", "verify",
    "version", "library_path",
]

BytesLike = Union[bytes, bytearray, memoryview]

#: Level names, the recommended ones first.
LEVELS: Tuple[str, ...] = ("s128", "s256", "128", "256")
_LEVEL_CODES: Dict[str, int] = {"s128": 1128, "s256": 1256, "128": 128, "256": 256}
_LEVEL_NAMES: Dict[int, str] = {code: name for name, code in _LEVEL_CODES.items()}

_PUBLIC_KEY, _SECRET_KEY, _SIGNATURE = 1, 2, 3


class ErrorCode(enum.IntEnum):
    """The library's error codes (sig_api.h: RINGTRAP_E_...)."""
    BAD_LEVEL = 1
    BAD_PUBLIC_KEY_SIZE = 2
    BAD_SECRET_KEY_SIZE = 3
    BAD_SIGNATURE_SIZE = 4
    LEVEL_MISMATCH = 5
    MALFORMED_PUBLIC_KEY = 6
    KEY_MISMATCH = 7
    SIGNING_FAILED = 8
    ENTROPY_UNAVAILABLE = 9
    MALFORMED_SECRET_KEY = 10
    MALFORMED_SIGNATURE = 11
    INVALID_ARGUMENT = 100
    INTERNAL = 101


class RingtrapError(Exception):
    """A failure reported by the library: .code (ErrorCode) and .message."""

    def __init__(self, code: ErrorCode, message: str) -> None:
        super().__init__(code, message)
        self.code = code
        self.message = message

    def __str__(self) -> str:
        return f"{self.message} [{self.code.name.lower()}]"


def _raise_for(code: int, detail: str = "") -> None:
    if code == 0:
        return
    message = library().ringtrap_error_message(code).decode()
    try:
        known = ErrorCode(code)
    except ValueError:
        known = ErrorCode.INTERNAL
    raise RingtrapError(known, message + (f" ({detail})" if detail else ""))


def _level_code(level: str) -> int:
    if not isinstance(level, str):
        raise TypeError(f"a level is one of {', '.join(LEVELS)}, not {type(level).__name__}")
    code = _LEVEL_CODES.get(level.lower())
    if code is None:
        raise RingtrapError(ErrorCode.BAD_LEVEL, f"{level!r} is not a level ({', '.join(LEVELS)})")
    return code


def _level_of(kind: int, size: int) -> str:
    found = ctypes.c_int32()
    _raise_for(library().ringtrap_level_of(kind, size, ctypes.byref(found)), f"{size} bytes")
    return _LEVEL_NAMES[found.value]


def _arg(data: BytesLike) -> Tuple[Any, int]:
    """A bytes-like object as (address argument, length in bytes), without
    copying bytes or writable buffers: a secret key in a bytearray stays the
    only copy. (A writable buffer cannot be resized while the result lives.)"""
    if isinstance(data, bytes):
        return data, len(data)
    if not isinstance(data, (bytearray, memoryview)):
        raise TypeError(f"a bytes-like object is needed, not {type(data).__name__}")
    view = memoryview(data)
    if not view.c_contiguous:
        raise TypeError("a contiguous bytes-like object is needed")
    if view.nbytes == 0:
        return None, 0
    if view.readonly:
        return view.tobytes(), view.nbytes
    return (ctypes.c_char * view.nbytes).from_buffer(view), view.nbytes


def _wipe(data: bytearray) -> None:
    if data:
        buffer = (ctypes.c_char * len(data)).from_buffer(data)
        ctypes.memset(buffer, 0, len(data))
        del buffer


class Sizes(NamedTuple):
    """Byte sizes of a level's objects."""
    public_key: int
    secret_key: int
    signature: int


class Parameters(NamedTuple):
    """What a level is made of (widths are standard deviations)."""
    level: str
    n: int                  # ring degree
    q: int                  # modulus
    k: int                  # gadget length
    gadget_base: int        # the gadget is (1, b, ..., b^(k-1))
    trapdoor_sigma: float
    gadget_sigma: float
    signature_sigma: float
    bound_squared: int      # verification accepts ||x||^2 <= bound_squared
    key_independent: bool   # signatures do not depend on the secret key


def version() -> str:
    """The library's version, "MAJOR.MINOR.PATCH"."""
    return str(library().ringtrap_version().decode())


def sizes(level: str = "s128") -> Sizes:
    """Byte sizes of the public key, secret key and signature of a level."""
    out = [ctypes.c_size_t() for _ in range(3)]
    _raise_for(library().ringtrap_sizes(_level_code(level), *(ctypes.byref(x) for x in out)))
    return Sizes(*(x.value for x in out))


def parameters(level: str = "s128") -> Parameters:
    """The parameters of a level."""
    p = Params()
    _raise_for(library().ringtrap_parameters(_level_code(level), ctypes.byref(p), ctypes.sizeof(p)))
    return Parameters(_LEVEL_NAMES[p.level], p.n, p.q, p.k, p.gadget_base, p.trapdoor_sigma, p.gadget_sigma,
                      p.signature_sigma, p.bound_squared, bool(p.key_independent))


class _Closable:
    """close() / with / garbage collection, for objects holding something to release."""

    def close(self) -> None:
        raise NotImplementedError

    def __enter__(self: _Self) -> _Self:
        return self

    def __exit__(self, kind: Optional[Type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # interpreter shutdown: the library may be gone already
            pass


_Self = TypeVar("_Self", bound=_Closable)


class KeyPair(_Closable):
    """A fresh key pair. The secret key lives in a bytearray that close()
    (or leaving a with block, or garbage collection) overwrites with zeros."""

    def __init__(self, level: str, public_key: bytes, secret_key: bytearray) -> None:
        self.level = level
        self.public_key = public_key
        self.secret_key = secret_key

    def close(self) -> None:
        """Overwrites the secret key with zeros (its length stays)."""
        _wipe(self.secret_key)

    def __repr__(self) -> str:
        return f"<ringtrap.KeyPair level={self.level}>"


def generate_keypair(level: str = "s128") -> KeyPair:
    """A fresh key pair of a level, from operating-system entropy."""
    code = _level_code(level)
    size = sizes(level)
    public_key = bytearray(size.public_key)
    secret_key = bytearray(size.secret_key)
    (pk, pk_len), (sk, sk_len) = _arg(public_key), _arg(secret_key)
    result = library().ringtrap_keygen(code, pk, pk_len, sk, sk_len)
    del pk, sk
    _raise_for(result)
    return KeyPair(_LEVEL_NAMES[code], bytes(public_key), secret_key)


class _Handle:
    """A library handle that threads may share: close() frees it once no call
    is using it, and no call may start after close()."""

    def __init__(self, pointer: int, free: Any, what: str) -> None:
        self._pointer: Optional[int] = pointer
        self._free = free
        self._what = what
        self._users = 0
        self._closed = False
        self._lock = threading.Lock()

    @contextmanager
    def use(self) -> Iterator[int]:
        with self._lock:
            if self._closed or self._pointer is None:
                raise ValueError(f"the {self._what} is closed")
            self._users += 1
            pointer = self._pointer
        try:
            yield pointer
        finally:
            with self._lock:
                self._users -= 1
                self._release_if_done()

    def close(self) -> None:
        with self._lock:
            self._closed = True
            self._release_if_done()

    def _release_if_done(self) -> None:  # with the lock held
        if self._closed and self._users == 0 and self._pointer is not None:
            pointer, self._pointer = self._pointer, None
            self._free(pointer)


class VerifyingKey(_Closable):
    """A public key, decoded and prepared for verifying many signatures."""

    def __init__(self, handle: _Handle, level: str, public_key: bytes) -> None:
        self._handle = handle
        self.level = level
        self.public_key = public_key

    @classmethod
    def from_bytes(cls, public_key: BytesLike) -> "VerifyingKey":
        """Raises RingtrapError (BAD_PUBLIC_KEY_SIZE, MALFORMED_PUBLIC_KEY)."""
        lib = library()
        data = bytes(public_key)
        out = ctypes.c_void_p()
        _raise_for(lib.ringtrap_verifier_new(data, len(data), ctypes.byref(out)), f"{len(data)} bytes")
        assert out.value is not None
        return cls(_Handle(out.value, lib.ringtrap_verifier_free, "verifying key"), _level_of(_PUBLIC_KEY, len(data)),
                   data)

    def verify(self, signature: BytesLike, message: BytesLike) -> bool:
        """True when the signature is valid for the message. Raises
        RingtrapError(BAD_SIGNATURE_SIZE) for a signature of another length
        than this key's level's."""
        valid = ctypes.c_int32()
        (sig, sig_len), (msg, msg_len) = _arg(signature), _arg(message)
        with self._handle.use() as handle:
            result = library().ringtrap_verifier_verify(handle, sig, sig_len, msg, msg_len, ctypes.byref(valid))
        _raise_for(result, f"{sig_len} bytes for a level-{self.level} key")
        return valid.value == 1

    def close(self) -> None:
        """Releases the prepared key (nothing secret)."""
        self._handle.close()

    def __repr__(self) -> str:
        return f"<ringtrap.VerifyingKey level={self.level}>"


class SigningKey(_Closable):
    """A secret key with its public key, checked to belong together and
    prepared for signing. The library holds the prepared key; close() (or
    leaving a with block, or garbage collection) wipes and releases it."""

    def __init__(self, handle: _Handle, level: str, public_key: bytes) -> None:
        self._handle = handle
        self.level = level
        self.public_key = public_key
        self._verifying_key: Optional[VerifyingKey] = None

    @classmethod
    def from_bytes(cls, secret_key: BytesLike, public_key: BytesLike) -> "SigningKey":
        """Raises RingtrapError (BAD_SECRET_KEY_SIZE, BAD_PUBLIC_KEY_SIZE,
        LEVEL_MISMATCH, MALFORMED_PUBLIC_KEY, MALFORMED_SECRET_KEY,
        KEY_MISMATCH). A secret key in a bytearray is read in place, not copied."""
        lib = library()
        public = bytes(public_key)
        out = ctypes.c_void_p()
        sk, sk_len = _arg(secret_key)
        result = lib.ringtrap_signer_new(sk, sk_len, public, len(public), ctypes.byref(out))
        del sk
        _raise_for(result, f"secret key of {sk_len} bytes, public key of {len(public)} bytes")
        assert out.value is not None
        return cls(_Handle(out.value, lib.ringtrap_signer_free, "signing key"), _level_of(_PUBLIC_KEY, len(public)),
                   public)

    def sign(self, message: BytesLike) -> bytes:
        """A signature of the message. Raises RingtrapError(SIGNING_FAILED) if
        the fresh signature does not verify (it is then discarded)."""
        buffer = ctypes.create_string_buffer(sizes(self.level).signature)
        written = ctypes.c_size_t()
        msg, msg_len = _arg(message)
        with self._handle.use() as handle:
            result = library().ringtrap_signer_sign(handle, msg, msg_len, buffer, len(buffer), ctypes.byref(written))
        _raise_for(result)
        return buffer.raw[:written.value]

    @property
    def verifying_key(self) -> VerifyingKey:
        """The public half, prepared for verifying."""
        if self._verifying_key is None:
            self._verifying_key = VerifyingKey.from_bytes(self.public_key)
        return self._verifying_key

    def close(self) -> None:
        """Wipes and releases the prepared secret key (once no call uses it)."""
        self._handle.close()

    def __repr__(self) -> str:
        return f"<ringtrap.SigningKey level={self.level}>"


def verify(public_key: BytesLike, signature: BytesLike, message: BytesLike) -> bool:
    """One-shot verification: VerifyingKey.from_bytes(public_key).verify(...)."""
    valid = ctypes.c_int32()
    (pk, pk_len), (sig, sig_len), (msg, msg_len) = _arg(public_key), _arg(signature), _arg(message)
    result = library().ringtrap_verify(pk, pk_len, sig, sig_len, msg, msg_len, ctypes.byref(valid))
    _raise_for(result, f"public key of {pk_len} bytes, signature of {sig_len} bytes")
    return valid.value == 1


def decode_signature(signature: BytesLike) -> "array.array[int]":
    """The signature vector x of a signature of any level: (k + 2) * n centred
    coefficients, entry after entry, as an array of int64 ('q'). Raises
    RingtrapError (BAD_SIGNATURE_SIZE, MALFORMED_SIGNATURE)."""
    lib = library()
    count = ctypes.c_size_t()
    sig, sig_len = _arg(signature)
    _raise_for(lib.ringtrap_decode_signature(sig, sig_len, None, 0, ctypes.byref(count)), f"{sig_len} bytes")
    out = array.array("q", bytes(8 * count.value))
    address, _ = out.buffer_info()
    result = lib.ringtrap_decode_signature(sig, sig_len, ctypes.cast(address, ctypes.POINTER(ctypes.c_int64)),
                                           len(out), ctypes.byref(count))
    _raise_for(result)
    return out
