"""Tests of the Python package: a round trip per level, altered signatures and
wrong sizes, the error codes, key lifetimes, threads, and where the library is
looked for. Run with the package on the path and libringtrap findable:

    PYTHONPATH=python python3 -m unittest discover -s python/tests

(`make test` runs them through ctest, on the shared library of its build.)
"""
import os
import re
import tempfile
import threading
import unittest
from pathlib import Path

import ringtrap
from ringtrap import ErrorCode, RingtrapError, _native

SOURCE_DIR = Path(__file__).resolve().parents[2]


class RoundTrip(unittest.TestCase):
    def test_every_level_signs_and_rejects_alterations(self):
        message = b"pay Bob 10 coins"
        for level in ringtrap.LEVELS:
            with self.subTest(level=level):
                size = ringtrap.sizes(level)
                params = ringtrap.parameters(level)
                self.assertEqual(params.level, level)
                with ringtrap.generate_keypair(level) as pair:
                    self.assertEqual((len(pair.public_key), len(pair.secret_key)), size[:2])
                    with ringtrap.SigningKey.from_bytes(pair.secret_key, pair.public_key) as signer:
                        self.assertEqual(signer.level, level)
                        signature = signer.sign(message)
                        # Any bytes-like message is the same message.
                        self.assertTrue(signer.verifying_key.verify(signer.sign(bytearray(message)),
                                                                    memoryview(message)))
                self.assertEqual(len(signature), size.signature)
                verifier = ringtrap.VerifyingKey.from_bytes(pair.public_key)
                self.assertTrue(verifier.verify(signature, message))
                self.assertTrue(ringtrap.verify(pair.public_key, signature, message))
                self.assertFalse(verifier.verify(signature, message + b"!"))
                for position in (0, len(signature) // 2, len(signature) - 1):
                    altered = bytearray(signature)
                    altered[position] ^= 0x01
                    self.assertFalse(verifier.verify(altered, message), position)

                x = ringtrap.decode_signature(signature)
                self.assertEqual(x.itemsize, 8)
                self.assertEqual(len(x), (params.k + 2) * params.n)
                self.assertLessEqual(sum(v * v for v in x), params.bound_squared)
                self.assertGreater(max(abs(v) for v in x), 0)

    def test_wrong_sizes_are_refused_with_their_code(self):
        pair = ringtrap.generate_keypair("s128")
        signature = ringtrap.SigningKey.from_bytes(pair.secret_key, pair.public_key).sign(b"m")
        other = ringtrap.generate_keypair("128")
        other_signature = ringtrap.SigningKey.from_bytes(other.secret_key, other.public_key).sign(b"m")
        verifier = ringtrap.VerifyingKey.from_bytes(pair.public_key)
        cases = [
            (lambda: verifier.verify(signature[:-1], b"m"), ErrorCode.BAD_SIGNATURE_SIZE),
            (lambda: verifier.verify(signature + b"\0", b"m"), ErrorCode.BAD_SIGNATURE_SIZE),
            (lambda: verifier.verify(other_signature, b"m"), ErrorCode.BAD_SIGNATURE_SIZE),
            (lambda: ringtrap.verify(pair.public_key, b"", b"m"), ErrorCode.BAD_SIGNATURE_SIZE),
            (lambda: ringtrap.VerifyingKey.from_bytes(pair.public_key[:-4]), ErrorCode.BAD_PUBLIC_KEY_SIZE),
            (lambda: ringtrap.SigningKey.from_bytes(pair.secret_key[4:], pair.public_key), ErrorCode.BAD_SECRET_KEY_SIZE),
            (lambda: ringtrap.decode_signature(signature[1:]), ErrorCode.BAD_SIGNATURE_SIZE),
        ]
        for call, code in cases:
            with self.assertRaises(RingtrapError) as caught:
                call()
            self.assertIs(caught.exception.code, code)


class Errors(unittest.TestCase):
    def test_codes_match_the_c_header(self):
        header = (SOURCE_DIR / "src" / "sig_api.h").read_text()
        declared = {name: int(value) for name, value in re.findall(r"RINGTRAP_E_(\w+) = (\d+)", header)}
        self.assertEqual(declared, {code.name: code.value for code in ErrorCode})

    def test_each_failure_carries_its_code_and_the_library_message(self):
        a = ringtrap.generate_keypair("s128")
        b = ringtrap.generate_keypair("s128")
        old = ringtrap.generate_keypair("128")
        bad_public = bytearray(a.public_key)
        bad_public[0] = 2  # the first entry of A is the constant 1
        cases = [
            (lambda: ringtrap.sizes("s512"), ErrorCode.BAD_LEVEL),
            (lambda: ringtrap.generate_keypair("S384"), ErrorCode.BAD_LEVEL),
            (lambda: ringtrap.SigningKey.from_bytes(a.secret_key, old.public_key), ErrorCode.LEVEL_MISMATCH),
            (lambda: ringtrap.SigningKey.from_bytes(a.secret_key, b.public_key), ErrorCode.KEY_MISMATCH),
            (lambda: ringtrap.VerifyingKey.from_bytes(bad_public), ErrorCode.MALFORMED_PUBLIC_KEY),
            (lambda: ringtrap.SigningKey.from_bytes(b"\xff" * len(a.secret_key), a.public_key),
             ErrorCode.MALFORMED_SECRET_KEY),
            (lambda: ringtrap.decode_signature(b"\xff" * ringtrap.sizes("128").signature), ErrorCode.MALFORMED_SIGNATURE),
        ]
        for call, code in cases:
            with self.subTest(code=code.name), self.assertRaises(RingtrapError) as caught:
                call()
            self.assertIs(caught.exception.code, code)
            self.assertIn(code.name.lower(), str(caught.exception))
            if code is not ErrorCode.BAD_LEVEL:  # the other messages come from the library
                expected = _native.library().ringtrap_error_message(code.value).decode()
                self.assertTrue(caught.exception.message.startswith(expected), caught.exception.message)
        self.assertRaises(TypeError, ringtrap.sizes, 128)
        self.assertRaises(TypeError, ringtrap.verify, a.public_key, "text", b"m")


class Lifetimes(unittest.TestCase):
    def test_closing_wipes_the_secret_key_and_ends_the_key_objects(self):
        with ringtrap.generate_keypair("s128") as pair:
            secret = pair.secret_key
            self.assertTrue(any(secret))
            signer = ringtrap.SigningKey.from_bytes(secret, pair.public_key)
        self.assertEqual(secret, bytearray(len(secret)))
        with signer:
            signature = signer.sign(b"m")
        self.assertRaises(ValueError, signer.sign, b"m")
        signer.close()  # twice is harmless
        verifier = ringtrap.VerifyingKey.from_bytes(pair.public_key)
        self.assertTrue(verifier.verify(signature, b"m"))
        verifier.close()
        self.assertRaises(ValueError, verifier.verify, signature, b"m")


class Threads(unittest.TestCase):
    def test_threads_share_keys_and_a_close_waits_for_calls_in_progress(self):
        pair = ringtrap.generate_keypair("s128")
        signer = ringtrap.SigningKey.from_bytes(pair.secret_key, pair.public_key)
        verifier = signer.verifying_key
        results = {}
        errors = []

        def work(t):
            try:
                for i in range(4):
                    message = f"thread {t} message {i}".encode()
                    signature = signer.sign(message)
                    results[message] = (signature, verifier.verify(signature, message),
                                        verifier.verify(signature, message + b"x"))
            except Exception as error:  # reported below
                errors.append(error)

        threads = [threading.Thread(target=work, args=(t,)) for t in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(errors, [])
        self.assertEqual(len(results), 16)
        self.assertTrue(all(valid and not wrong for _, valid, wrong in results.values()))
        self.assertEqual(len({signature for signature, _, _ in results.values()}), 16)

        # Closing while other threads sign: each call either completes with a
        # valid signature or is refused (ValueError); none uses a freed key.
        outcomes = []
        started = threading.Barrier(4)

        def sign_until_closed():
            started.wait()
            while True:
                try:
                    signature = signer.sign(b"late")
                except ValueError:
                    outcomes.append("closed")
                    return
                outcomes.append(ringtrap.verify(pair.public_key, signature, b"late"))

        threads = [threading.Thread(target=sign_until_closed) for _ in range(3)]
        for thread in threads:
            thread.start()
        started.wait()
        signer.close()
        for thread in threads:
            thread.join()
        self.assertEqual(outcomes.count("closed"), 3)
        self.assertTrue(all(outcome is True for outcome in outcomes if outcome != "closed"))


class LibrarySearch(unittest.TestCase):
    def test_order_and_the_error_naming_every_place(self):
        def refuse(name):
            raise OSError(f"cannot open {name}")

        with tempfile.TemporaryDirectory() as empty:
            places = _native.candidates(Path(empty), {}, lambda name: None)
            with self.assertRaises(_native.LibraryNotFoundError) as caught:
                _native.load(places, refuse)
            message = str(caught.exception)
            for fragment in (f"{empty}/libringtrap.so*", "RINGTRAP_LIBRARY: not set", "find_library",
                             "libringtrap.so.0", "make python"):
                self.assertIn(fragment, message)

            beside = Path(empty) / "libringtrap.so.0"
            beside.touch()
            places = _native.candidates(Path(empty), {"RINGTRAP_LIBRARY": "/x/lib.so"}, lambda name: "libringtrap.so.0")
            self.assertEqual([name for _, name in places], [str(beside), "/x/lib.so", "libringtrap.so.0", "libringtrap.so.0"])
            opened = []
            _native.load(places, lambda name: opened.append(name) or name)
            self.assertEqual(opened, [str(beside)])

    def test_the_library_in_use_is_the_one_asked_for(self):
        wanted = os.environ.get("RINGTRAP_LIBRARY")
        if not wanted or list(_native.PACKAGE_DIR.glob("libringtrap.so*")):
            self.skipTest("RINGTRAP_LIBRARY not set, or a library lies next to the package")
        self.assertEqual(ringtrap.library_path(), wanted)
        if os.environ.get("RINGTRAP_EXPECTED_VERSION"):
            self.assertEqual(ringtrap.version(), os.environ["RINGTRAP_EXPECTED_VERSION"])


if __name__ == "__main__":
    unittest.main()
