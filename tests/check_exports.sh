#!/usr/bin/env bash
# Lists the dynamic symbols a shared library defines and fails on any that is
# not part of the documented interface (ringtrap.h, sig_api.h), naming it.
# usage: check_exports.sh NM LIBRARY
set -euo pipefail
nm=$1 lib=$2
allowed='^(sig_(select_level|public_key_bytes|secret_key_bytes|signature_bytes|keygen|sign|verf|forget)'
allowed+='|ringtrap_(version|error_message|sizes|level_of|parameters|keygen|signer_(new|sign|free)'
allowed+='|verifier_(new|verify|free)|verify|decode_signature)'
allowed+='|ringtrap::(version|sizes|level_of_public_key_size|level_of_secret_key_size|level_of_signature_size'
allowed+='|level_from_int|level_from_name|level_name|is_key_independent|parameters|decode_signature|generate_keypair|use_deterministic_draws_for_known_answers|use_os_entropy'
allowed+='|draws_are_deterministic|sign|verify|detail::allocate_secret|detail::release_secret'
allowed+='|VerifyingKey::(from_bytes|level|verify|to_bytes)|SigningKey::(from_bytes|level|sign|sample_preimage))\(.*'
allowed+='|(typeinfo|typeinfo name|vtable) for ringtrap::Error)$'
symbols=$("$nm" -DC --defined-only "$lib" | sed -E 's/^[0-9a-f]* *[A-Za-z] //')
count=$(printf '%s\n' "$symbols" | grep -c . || true)
bad=$(printf '%s\n' "$symbols" | grep -Ev "$allowed" || true)
if [ -n "$bad" ]; then
  echo "exported but not part of the documented interface:" >&2
  printf '  %s\n' "$bad" >&2
  exit 1
fi
# Every documented function is there (at least the 9 + 14 C and 27 C++ ones).
[ "$count" -ge 50 ] || { echo "only $count symbols exported" >&2; exit 1; }
echo "exported symbols: $count, all documented"
