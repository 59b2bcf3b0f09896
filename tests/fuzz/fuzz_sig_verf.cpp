// sig_verf, the byte interface's verifier, on hostile public keys, signatures
// and messages at both levels.
//
// Input: byte 0 holds flags (bit 0: level 256; bit 1: edited form; bit 2, edited
// form only: the rest of the input replaces the message), then 3 bytes of a
// signature length for a second call, with a buffer of exactly that many bytes
// (reduced modulo twice the signature size plus one). Then either
//   raw form:    public key, signature, message, one after the other; the key and
//                the signature are cut or zero-padded to full size;
//   edited form: one byte of edit count, then edits (3-byte position, XOR mask)
//                applied to the reference public key and signature.
//
// Checks: the answer is 0 or 1; the C++ API gives the same answer (it reports a
// malformed key as an error, which the byte interface answers with 0), and so
// does the in-memory Verify for a canonically encoded signature (it reduces
// numbers, so it may accept other encodings that the byte forms refuse); any
// length but the signature size is refused without reading past it; in the
// edited form a signature is accepted only when key, message and signature are
// the original ones.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "BasicScheme.h"
#include "fuzz_support.h"
#include "scheme_core.h"
#include "sig_api.h"
#include "util.h"

using namespace ringtrap;
using namespace ringtrap::fuzz;

namespace {

mat_poly_R row_of(const Bytes& bytes, const ParamSet& p) {
    std::vector<std::int64_t> c(bytes.size() / 4);
    decode_coeffs(bytes.data(), c.size(), c.data());
    return make_row(c.data(), p.k + 2, p.n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint8_t flags = in.byte();
    const Level level = (flags & 1) ? Level::L256 : Level::L128;
    const ParamSet& p = params_of(level);
    const std::uint64_t siglen = in.u24() % (2 * p.signature_bytes() + 1);
    const bool edited = (flags & 2) != 0;
    const Reference& ref = reference(level);

    Bytes pk, sig, msg;
    if (edited) {
        pk = ref.pair.public_key;
        sig = ref.sig;
        apply_edits(in, in.byte(), pk, sig);
        msg = (flags & 4) ? to_bytes(in.rest()) : ref.msg;
    } else {
        pk = fitted(in.take(p.public_key_bytes()), p.public_key_bytes());
        sig = fitted(in.take(p.signature_bytes()), p.signature_bytes());
        msg = to_bytes(in.rest());
    }

    if (sig_signature_bytes() != p.signature_bytes()) check(sig_select_level(p.level) == 0, "sig_select_level");
    const std::int32_t got = sig_verf(pk.data(), sig.data(), sig.size(), data_or_null(msg), msg.size());
    check(got == 0 || got == 1, "sig_verf answers 0 or 1");
    if (siglen != sig.size()) {
        const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[siglen]);
        std::copy_n(fitted(sig, siglen).begin(), siglen, exact.get());
        check(sig_verf(pk.data(), exact.get(), siglen, data_or_null(msg), msg.size()) == 0,
              "sig_verf refuses a signature of another length");
    }

    bool well_formed = true;
    try {
        check(verify(pk, sig, msg) == (got == 1), "the C++ API agrees with sig_verf");
    } catch (const Error& e) {
        check(e.code() == Errc::malformed_public_key, "only a malformed key is an error at full sizes");
        check(got == 0, "sig_verf rejects under a malformed key");
        well_formed = false;
    }
    bool canonical = true;
    for (std::size_t i = 0; i < sig.size(); i += 4) canonical = canonical && is_canonical_coeff(sig.data() + i, (p.q - 1) / 2);
    if (!canonical) check(got == 0, "sig_verf accepted a signature not in the signer's encoding");
    if (well_formed && canonical)
        check(Verify(row_of(pk, p), row_of(sig, p), data_or_null(msg), msg.size()) == got,
              "the in-memory Verify agrees with sig_verf");

    if (edited && got == 1) {
        check(pk == ref.pair.public_key, "accepted under an edited key");
        check(msg == ref.msg, "accepted for another message");
        check(sig == ref.sig, "accepted a signature other than the original");
    }
    return 0;
}
