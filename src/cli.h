// The command-line tool: keys, signatures and verification on files.
#pragma once

#include <span>
#include <string>

namespace ringtrap::cli {

// Runs the tool on the arguments after the program name (at least one) and
// returns the exit status: 0 on success and for a valid signature, 1 for an
// invalid signature, 2 for usage and input/output errors. Errors go to standard
// error as one line "ringtrap: FILE: problem"; standard output only ever carries
// the signature (sign), the description (info), the help text or the version.
[[nodiscard]] int run_tool(std::span<const std::string> args);

}  // namespace ringtrap::cli
