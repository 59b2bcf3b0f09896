// The command-line tool's pure half: argument parsing and file classification
// (library code that sees every argument and the first bytes of every file a
// user hands the tool).
//
// Input: byte 0 selects the call (modulo 3).
//   0: the rest split at zero bytes into arguments for parse_arguments;
//   1: the rest as a whole file for classify_file;
//   2: byte 1 picks one of the object sizes (0-3) and an offset of -1, 0 or +1
//      byte (bits 2-3), and the rest is laid at the start of a zero-filled file
//      of that size for classify_file, so that public keys and signatures of
//      full size are reached without full-size inputs.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "fuzz_support.h"
#include "tool_args.h"

using namespace ringtrap;
using namespace ringtrap::fuzz;

namespace {

bool same_path(const std::string& a, const std::string& b) {
    return std::filesystem::path(a).lexically_normal() == std::filesystem::path(b).lexically_normal();
}

void check_command(const cli::Command& c) {
    using cli::Action;
    switch (c.action) {
        case Action::help:
        case Action::version:
            check(c.public_key.empty() && c.secret_key.empty() && c.signature.empty() && c.input.empty() &&
                      c.output.empty(),
                  "help and version carry no paths");
            break;
        case Action::keygen:
            check(c.level == Level::L128 || c.level == Level::L256, "keygen level");
            check(!c.public_key.empty() && !c.secret_key.empty(), "keygen names both key files");
            check(c.public_key != "-" && c.secret_key != "-", "keygen never writes keys to standard output");
            check(!same_path(c.public_key, c.secret_key), "keygen writes two different files");
            check(c.input.empty() && c.output.empty() && c.signature.empty(), "keygen takes no other paths");
            break;
        case Action::sign:
        case Action::verify: {
            const bool sign = c.action == Action::sign;
            check(!c.public_key.empty() && !c.input.empty(), "sign and verify name a key and a message");
            check(sign ? !c.secret_key.empty() && !c.output.empty() && c.signature.empty()
                       : !c.signature.empty() && c.secret_key.empty() && c.output.empty(),
                  "sign needs a secret key and an output, verify a signature");
            const std::string* inputs[] = {&c.secret_key, &c.public_key, &c.signature, &c.input};
            int from_stdin = 0;
            for (const std::string* in : inputs) {
                if (*in == "-") ++from_stdin;
                if (sign && !in->empty() && *in != "-" && c.output != "-")
                    check(!same_path(*in, c.output), "sign never writes over one of its inputs");
            }
            check(from_stdin <= 1, "at most one input comes from standard input");
            break;
        }
        case Action::info:
            check(!c.input.empty(), "info names a file");
            break;
    }
}

void parse(std::span<const std::uint8_t> bytes) {
    std::vector<std::string> args(1);
    for (const std::uint8_t b : bytes) {
        if (b == 0)
            args.emplace_back();
        else
            args.back().push_back(static_cast<char>(b));
    }
    if (bytes.empty()) args.clear();

    const cli::ParseResult result = cli::parse_arguments(args);
    if (const auto* error = std::get_if<cli::UsageError>(&result)) {
        const std::string hint = " (see 'ringtrap --help')";
        check(error->message.size() > hint.size(), "a usage error says what is wrong");
        check(error->message.compare(error->message.size() - hint.size(), hint.size(), hint) == 0,
              "a usage error points to --help");
        // One line, whatever the arguments held: control bytes are escaped.
        check(error->message.find('\n') == std::string::npos, "a usage error is one line");
    } else {
        check_command(std::get<cli::Command>(result));
    }
}

void classify(std::span<const std::uint8_t> bytes) {
    const std::optional<cli::FileInfo> info = cli::classify_file(bytes);
    const ParamSet* match = nullptr;
    bool secret = false;
    for (const ParamSet* p : {&kParams128, &kParams256}) {
        if (bytes.size() == p->secret_key_bytes()) match = p, secret = true;
        if (bytes.size() == p->public_key_bytes()) match = p;
    }
    check(info.has_value() == (match != nullptr), "classified exactly the object sizes");
    if (!info) return;
    check(static_cast<int>(info->level) == match->level, "level from the size");
    check(bytes.size() <= cli::largest_object_size(), "no object is larger than the largest");
    if (secret) {
        check(info->kind == cli::ObjectKind::secret_key, "secret keys have sizes of their own");
    } else {
        // A public key's first entry is the constant 1: 01 00 00 00, then zeros.
        bool one = bytes[0] == 1;
        for (std::size_t i = 1; i < static_cast<std::size_t>(4 * match->n); ++i) one = one && bytes[i] == 0;
        check(info->kind == (one ? cli::ObjectKind::public_key : cli::ObjectKind::signature),
              "public key exactly when the first entry is 1");
    }
    const std::string text = cli::describe(*info);
    check(text.find(cli::kind_name(info->kind)) == 0, "the description starts with the kind");
    check(text.find(std::to_string(match->level)) != std::string::npos, "the description names the level");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    switch (in.byte() % 3) {
        case 0: parse(in.rest()); break;
        case 1: classify(in.rest()); break;
        default: {
            static constexpr std::array<std::size_t, 4> kSizes = {
                kParams128.public_key_bytes(), kParams128.secret_key_bytes(), kParams256.public_key_bytes(),
                kParams256.secret_key_bytes()};
            const std::uint8_t pick = in.byte();
            const std::size_t file_size = kSizes[pick & 3] + ((pick >> 2) & 3) % 3 - 1;
            classify(fitted(in.rest(), file_size));
        }
    }
    return 0;
}
