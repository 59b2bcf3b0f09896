// The command-line tool's pure half: argument parsing, file classification and
// the armoured text form (code that sees every argument and every byte of every
// file a user hands the tool).
//
// Input: byte 0 selects the call (modulo 5).
//   0: the rest split at zero bytes into arguments for parse_arguments;
//   1: the rest as a whole file for classify_file;
//   2: byte 1 picks one of the object sizes (bits 0-3, modulo their number)
//      and an offset of -1, 0 or +1 byte (bits 4-5), and the rest is laid at
//      the start of a zero-filled file of that size for classify_file, so that
//      public keys and signatures of full size are reached without full-size
//      inputs;
//   3: the rest as a whole file for parse_armor;
//   4: byte 1 picks an object (level in bits 0-1, kind in bits 2-3, modulo
//      3); its armoured text, with the rest applied as edits (3 bytes of
//      position, 1 byte put there), goes to parse_armor, so that full-size
//      armour is reached and then broken in every place.
#include <algorithm>
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

// A batch: files instead of --in/--out/--signature; no message from standard
// input; a signing batch writes each FILE.sig to a name of its own that is
// none of its inputs (by spelling: the tool checks the files themselves).
void check_batch(const cli::Command& c) {
    const bool sign = c.action == cli::Action::sign;
    check(!c.files.empty() && !c.public_key.empty(), "a batch names a key and at least one file");
    check(c.input.empty() && c.output.empty() && c.signature.empty(), "a batch takes no --in, --out or --signature");
    check(sign ? !c.secret_key.empty() : c.secret_key.empty(), "a signing batch has a secret key, a checking one none");
    check(c.secret_key != "-" || c.public_key != "-", "at most one key comes from standard input");
    for (const std::string& file : c.files) check(!file.empty() && file != "-", "a batch reads its files by name");
    if (!sign) return;
    std::vector<std::string> inputs = c.files;
    for (const std::string* key : {&c.secret_key, &c.public_key})
        if (*key != "-") inputs.push_back(*key);
    for (std::size_t i = 0; i < c.files.size(); ++i) {
        const std::string out = c.files[i] + std::string(cli::kSignatureSuffix);
        for (std::size_t j = 0; j < i; ++j)
            check(!same_path(out, c.files[j] + std::string(cli::kSignatureSuffix)), "one signature per name");
        for (const std::string& in : inputs) check(!same_path(out, in), "a batch never writes over one of its inputs");
    }
}

void check_command(const cli::Command& c) {
    using cli::Action;
    switch (c.action) {
        case Action::help:
        case Action::version:
            check(c.public_key.empty() && c.secret_key.empty() && c.signature.empty() && c.input.empty() &&
                      c.output.empty() && c.files.empty(),
                  "help and version carry no paths");
            break;
        case Action::keygen:
            check(level_from_int(static_cast<int>(c.level)).has_value(), "keygen level");
            check(!c.public_key.empty() && !c.secret_key.empty(), "keygen names both key files");
            check(c.public_key != "-" && c.secret_key != "-", "keygen never writes keys to standard output");
            check(!same_path(c.public_key, c.secret_key), "keygen writes two different files");
            check(c.input.empty() && c.output.empty() && c.signature.empty() && c.files.empty(),
                  "keygen takes no other paths");
            break;
        case Action::sign:
        case Action::verify: {
            const bool sign = c.action == Action::sign;
            check(c.jobs <= cli::kMaxJobs && (c.jobs == 0 || c.batch), "--jobs is a batch's, within its bounds");
            if (c.batch) {
                check_batch(c);
                break;
            }
            check(c.files.empty(), "only a batch has FILE arguments");
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
            check(c.files.empty() && !c.batch && c.jobs == 0, "info is no batch");
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

constexpr cli::ObjectKind kKinds[] = {cli::ObjectKind::public_key, cli::ObjectKind::secret_key, cli::ObjectKind::signature};

std::size_t size_of(const cli::FileInfo& info) {
    const Sizes s = sizes(info.level);
    return info.kind == cli::ObjectKind::public_key ? s.public_key
           : info.kind == cli::ObjectKind::secret_key ? s.secret_key
                                                       : s.signature;
}

void classify(std::span<const std::uint8_t> bytes) {
    const std::optional<cli::FileInfo> info = cli::classify_file(bytes);
    std::optional<cli::FileInfo> want;
    for (const Level level : cli::kAllLevels)
        for (const cli::ObjectKind kind : kKinds)
            if (!want && bytes.size() == size_of({kind, level})) want = cli::FileInfo{kind, level};
    check(info.has_value() == want.has_value(), "classified exactly the object sizes");
    if (!info) return;
    check(info->level == want->level, "level from the size");
    check(bytes.size() <= cli::largest_object_size(), "no object is larger than the largest");
    const Sizes s = sizes(info->level);
    if (s.public_key == s.signature && info->kind != cli::ObjectKind::secret_key) {
        // A public key's first entry is the constant 1: 01 00 00 00, then zeros.
        bool one = bytes[0] == 1;
        for (std::size_t i = 1; i < static_cast<std::size_t>(4 * parameters(info->level).n); ++i) one = one && bytes[i] == 0;
        check(info->kind == (one ? cli::ObjectKind::public_key : cli::ObjectKind::signature),
              "public key exactly when the first entry is 1");
    } else {
        check(info->kind == want->kind, "the kind from the size");
    }
    const std::string text = cli::describe(*info);
    check(text.find(cli::kind_name(info->kind)) == 0, "the description starts with the kind");
    check(text.find(level_name(info->level)) != std::string::npos, "the description names the level");
}

// Armoured text, any bytes: an error is one line; success means the object's
// size, and a body that is exactly the canonical encoding of what it decodes
// to (one text per object, up to line breaks and blanks).
void armor(std::span<const std::uint8_t> text) {
    const auto parsed = cli::parse_armor(text);
    if (const auto* error = std::get_if<std::string>(&parsed)) {
        check(!error->empty() && error->find('\n') == std::string::npos, "an armour error is one line");
        return;
    }
    const cli::Armored& a = std::get<cli::Armored>(parsed);
    check(cli::looks_armored(text), "what parses looks armoured");
    check(a.size == size_of(a.info), "decoded size is the object's size");
    Bytes bytes(a.size);
    cli::decode_armor(a, bytes);
    Bytes again(cli::armored_size(a.info, bytes.size()));
    cli::encode_armor(a.info, bytes, again);
    const auto reparsed = cli::parse_armor(again);
    check(std::holds_alternative<cli::Armored>(reparsed), "the tool's own text parses");
    const auto squeezed = [](std::string_view body) {
        std::string out;
        for (const char c : body)
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n') out += c;
        return out;
    };
    check(squeezed(a.body) == squeezed(std::get<cli::Armored>(reparsed).body), "the body is the canonical encoding");
}

void armor_edited(Input& in) {
    const std::uint8_t pick = in.byte();
    const cli::FileInfo info{kKinds[((pick >> 2) & 3) % 3], cli::kAllLevels[pick & 3]};
    Bytes object(size_of(info));
    for (std::size_t i = 0; i < object.size(); ++i) object[i] = static_cast<std::uint8_t>(i * 131 + 7);
    Bytes text(cli::armored_size(info, object.size()));
    cli::encode_armor(info, object, text);
    bool edited = false;
    while (!in.empty()) {
        const std::size_t at = in.u24() % text.size();
        const std::uint8_t value = in.byte();
        edited = edited || text[at] != value;
        text[at] = value;
    }
    if (!edited) {
        const auto parsed = cli::parse_armor(text);
        check(std::holds_alternative<cli::Armored>(parsed), "unedited armour parses");
        Bytes back(object.size());
        cli::decode_armor(std::get<cli::Armored>(parsed), back);
        check(back == object, "unedited armour decodes to the object");
    }
    armor(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Every object size of every level, each once.
    static const std::vector<std::size_t> kSizes = [] {
        std::vector<std::size_t> out;
        for (const Level level : cli::kAllLevels)
            for (const cli::ObjectKind kind : kKinds) {
                const std::size_t s = size_of({kind, level});
                if (std::find(out.begin(), out.end(), s) == out.end()) out.push_back(s);
            }
        return out;
    }();
    Input in(data, size);
    switch (in.byte() % 5) {
        case 0: parse(in.rest()); break;
        case 1: classify(in.rest()); break;
        case 2: {
            const std::uint8_t pick = in.byte();
            const std::size_t file_size = kSizes[(pick & 15) % kSizes.size()] + ((pick >> 4) & 3) % 3 - 1;
            classify(fitted(in.rest(), file_size));
            break;
        }
        case 3: armor(in.rest()); break;
        default: armor_edited(in);
    }
    return 0;
}
