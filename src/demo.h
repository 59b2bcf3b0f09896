// The demonstration run of the program (no command-line arguments).
#pragma once

namespace ringtrap {

// Selects level 128, draws a random 100-byte message, generates a key pair,
// signs the message, verifies the signature through the byte interface and
// prints the verification result with "%d" (1 for valid), no line break.
// Returns 0 when the signature verified, 1 otherwise.
int run_demonstration();

}  // namespace ringtrap
