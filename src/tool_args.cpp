#include "tool_args.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

#include "params.h"

namespace ringtrap::cli {
namespace {

constexpr std::string_view kTryHelp = " (see 'ringtrap --help')";

struct OptionRule {
    std::string_view name;  // with the leading "--"
    bool takes_value;
};

// The options each subcommand accepts.
std::span<const OptionRule> options_of(Action action) {
    static constexpr OptionRule keygen[] = {
        {"--level", true}, {"--public-key", true}, {"--secret-key", true}, {"--force", false}};
    static constexpr OptionRule sign[] = {
        {"--secret-key", true}, {"--public-key", true}, {"--in", true}, {"--out", true}};
    static constexpr OptionRule verify[] = {{"--public-key", true}, {"--signature", true}, {"--in", true}};
    switch (action) {
        case Action::keygen: return keygen;
        case Action::sign: return sign;
        case Action::verify: return verify;
        default: return {};
    }
}

const char* command_name(Action action) {
    switch (action) {
        case Action::keygen: return "keygen";
        case Action::sign: return "sign";
        case Action::verify: return "verify";
        case Action::info: return "info";
        case Action::help: return "--help";
        case Action::version: return "--version";
    }
    return "?";
}

std::string* field_of(Command& cmd, std::string_view option) {
    if (option == "--public-key") return &cmd.public_key;
    if (option == "--secret-key") return &cmd.secret_key;
    if (option == "--signature") return &cmd.signature;
    if (option == "--in") return &cmd.input;
    if (option == "--out") return &cmd.output;
    return nullptr;
}

bool same_path(const std::string& a, const std::string& b) {
    namespace fs = std::filesystem;
    return fs::path(a).lexically_normal() == fs::path(b).lexically_normal();
}

UsageError usage(std::string message) {
    message += kTryHelp;
    return UsageError{std::move(message)};
}

// Quotes a user-supplied argument for an error message. Control bytes are
// shown as \xNN, so a message stays on one line and no terminal escape
// sequence from an argument reaches standard error.
std::string in_quotes(std::string_view text) {
    static const char* const hex = "0123456789abcdef";
    std::string out = "'";
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 15];
        } else {
            out += ch;
        }
    }
    out += "'";
    return out;
}

// Checks that apply once all options are known.
std::optional<UsageError> check_command(const Command& cmd, std::string_view level_text) {
    const std::string name = command_name(cmd.action);
    auto require = [&](const std::string& value, std::string_view option) -> std::optional<UsageError> {
        if (value.empty()) return usage(name + " needs " + std::string(option) + " FILE");
        return std::nullopt;
    };
    std::optional<UsageError> missing;
    switch (cmd.action) {
        case Action::keygen:
            if ((missing = require(cmd.public_key, "--public-key"))) return missing;
            if ((missing = require(cmd.secret_key, "--secret-key"))) return missing;
            break;
        case Action::sign:
            if ((missing = require(cmd.secret_key, "--secret-key"))) return missing;
            if ((missing = require(cmd.public_key, "--public-key"))) return missing;
            break;
        case Action::verify:
            if ((missing = require(cmd.public_key, "--public-key"))) return missing;
            if ((missing = require(cmd.signature, "--signature"))) return missing;
            break;
        case Action::info:
            if (cmd.input.empty()) return usage("info needs a FILE");
            break;
        default: break;
    }

    if (cmd.action == Action::keygen) {
        if (!level_text.empty() && !level_from_name(level_text))
            return usage("--level must be s128, s256, 128 or 256, not " + in_quotes(level_text));
        if (cmd.public_key == "-" || cmd.secret_key == "-")
            return usage("keygen writes key files; '-' (standard output) is not allowed");
        if (same_path(cmd.public_key, cmd.secret_key))
            return usage("--public-key and --secret-key name the same file " + in_quotes(cmd.public_key));
        return std::nullopt;
    }

    // At most one input can be standard input.
    std::vector<std::string_view> from_stdin;
    const std::pair<const std::string*, std::string_view> inputs[] = {
        {&cmd.secret_key, "--secret-key"}, {&cmd.public_key, "--public-key"}, {&cmd.signature, "--signature"},
        {&cmd.input, cmd.action == Action::info ? "FILE" : "--in"}};
    for (const auto& [value, option] : inputs)
        if (*value == "-") from_stdin.push_back(option);
    if (from_stdin.size() > 1)
        return usage("only one input can come from standard input, but " + std::string(from_stdin[0]) + " and " +
                     std::string(from_stdin[1]) + " both are '-'");

    // Writing the signature over one of the inputs would lose it.
    if (cmd.action == Action::sign && cmd.output != "-") {
        for (const auto& [value, option] : inputs)
            if (!value->empty() && *value != "-" && same_path(*value, cmd.output))
                return usage("--out " + in_quotes(cmd.output) + " is also the input " + std::string(option) +
                             "; choose another file");
    }
    return std::nullopt;
}

}  // namespace

ParseResult parse_arguments(std::span<const std::string> args) {
    if (args.empty()) return usage("no command given");
    const std::string& first = args[0];
    if (first == "--help" || first == "-h") return Command{};
    if (first == "--version") {
        if (args.size() > 1) return usage("--version takes no arguments");
        Command cmd;
        cmd.action = Action::version;
        return cmd;
    }

    Command cmd;
    if (first == "keygen") cmd.action = Action::keygen;
    else if (first == "sign") cmd.action = Action::sign;
    else if (first == "verify") cmd.action = Action::verify;
    else if (first == "info") cmd.action = Action::info;
    else if (first.size() > 1 && first[0] == '-') return usage("unknown option " + in_quotes(first));
    else return usage("unknown command " + in_quotes(first));
    const std::string name = command_name(cmd.action);

    const auto allowed = options_of(cmd.action);
    std::vector<std::string_view> seen;
    std::string level_text;
    std::vector<std::string> positional;
    bool options_ended = false;

    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_ended || arg == "-" || arg.empty() || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_ended = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") return Command{};

        const std::size_t eq = arg.find('=');
        const std::string_view option = std::string_view(arg).substr(0, eq);
        const auto rule = std::find_if(allowed.begin(), allowed.end(),
                                       [&](const OptionRule& o) { return o.name == option; });
        if (rule == allowed.end()) return usage("unknown option " + in_quotes(option) + " for " + name);
        if (std::find(seen.begin(), seen.end(), rule->name) != seen.end())
            return usage("option " + in_quotes(option) + " given more than once");
        seen.push_back(rule->name);

        if (!rule->takes_value) {
            if (eq != std::string::npos) return usage("option " + in_quotes(option) + " takes no value");
            cmd.force = true;  // the only flag
            continue;
        }
        std::string value;
        if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
            value = args[++i];
        } else {
            return usage("option " + in_quotes(option) + " needs a value");
        }
        if (value.empty()) return usage("option " + in_quotes(option) + " has an empty value");

        if (option == "--level") {
            level_text = value;
            if (const auto level = level_from_name(value)) cmd.level = *level;
        } else {
            *field_of(cmd, option) = std::move(value);
        }
    }

    if (cmd.action == Action::info) {
        if (positional.size() > 1) return usage("info takes one FILE, got " + std::to_string(positional.size()));
        if (positional.size() == 1) cmd.input = positional[0];
    } else {
        if (!positional.empty()) return usage("unexpected argument " + in_quotes(positional[0]) + " for " + name);
        if (cmd.action != Action::keygen) {
            // assign(1, '-') rather than = "-": g++ 12 at -O3 warns falsely
            // (-Wrestrict) about the copy in the latter.
            if (cmd.input.empty()) cmd.input.assign(1, '-');
            if (cmd.action == Action::sign && cmd.output.empty()) cmd.output.assign(1, '-');
        }
    }

    if (auto error = check_command(cmd, level_text)) return *error;
    return cmd;
}

const char* help_text() noexcept {
    return "Usage:\n"
           "  ringtrap keygen [--level s128|s256|128|256] --public-key PK --secret-key SK [--force]\n"
           "  ringtrap sign   --secret-key SK --public-key PK [--in FILE] [--out SIG]\n"
           "  ringtrap verify --public-key PK --signature SIG [--in FILE]\n"
           "  ringtrap info   FILE\n"
           "  ringtrap --help | --version\n"
           "  ringtrap          (no arguments: run the built-in demonstration, prints 1)\n"
           "\n"
           "Commands:\n"
           "  keygen   Generate a key pair, level S128 unless --level says otherwise. The\n"
           "           secret key is created with mode 0600. Existing files are kept unless\n"
           "           --force is given.\n"
           "  sign     Sign a message. Needs the public key as well as the secret key.\n"
           "  verify   Check a signature. Exit status 0 and \"valid\" on standard error for a\n"
           "           valid signature; exit status 1 and \"invalid\" otherwise.\n"
           "  info     Say what a file is, e.g. \"public key, level S128\".\n"
           "\n"
           "The message is read from --in FILE, or from standard input when --in is missing\n"
           "or '-'; it is read in full into memory before signing or verifying. The\n"
           "signature goes to --out SIG, or to standard output when --out is missing or '-'.\n"
           "Options also take the form --option=VALUE.\n"
           "\n"
           "Levels: S128 and S256 are the key-independent sets (signatures reveal nothing\n"
           "about the secret key; constant-time signing): use them for new keys. 128 and\n"
           "256 are the original sets, kept for compatibility: a few hundred of their\n"
           "signatures reveal the secret key, and 128 is far weaker than its name.\n"
           "\n"
           "Keys and signatures are raw bytes in the library's fixed formats, without a\n"
           "header; the level is recognised from the file sizes. Files are written to a\n"
           "temporary file first and renamed into place, so they are never half-written.\n"
           "\n"
           "Examples:\n"
           "  ringtrap keygen --public-key alice.pk --secret-key alice.sk\n"
           "  ringtrap keygen --level s256 --public-key big.pk --secret-key big.sk\n"
           "  ringtrap sign --secret-key alice.sk --public-key alice.pk --in report.pdf --out report.sig\n"
           "  tar c docs | ringtrap sign --secret-key alice.sk --public-key alice.pk > docs.sig\n"
           "  ringtrap verify --public-key alice.pk --signature report.sig --in report.pdf\n"
           "  ringtrap info report.sig\n"
           "\n"
           "Exit status: 0 success (or a valid signature), 1 invalid signature,\n"
           "2 usage or input error.\n";
}

std::optional<FileInfo> classify_file(std::span<const std::uint8_t> bytes) noexcept {
    for (const Level level : kAllLevels) {
        const Sizes size = sizes(level);
        if (bytes.size() == size.secret_key) return FileInfo{ObjectKind::secret_key, level};
        if (bytes.size() == size.signature && size.signature != size.public_key) return FileInfo{ObjectKind::signature, level};
        if (bytes.size() == size.public_key) {
            if (size.signature != size.public_key) return FileInfo{ObjectKind::public_key, level};
            // Levels 128 and 256: public keys and signatures share a size, and
            // the first entry of a public key is the constant 1 (01 00 00 00,
            // then zeros).
            const auto first_entry = bytes.first(static_cast<std::size_t>(4 * parameters(level).n));
            const bool is_one = first_entry[0] == 1 &&
                                std::all_of(first_entry.begin() + 1, first_entry.end(), [](std::uint8_t b) { return b == 0; });
            return FileInfo{is_one ? ObjectKind::public_key : ObjectKind::signature, level};
        }
    }
    return std::nullopt;
}

const char* kind_name(ObjectKind kind) noexcept {
    switch (kind) {
        case ObjectKind::public_key: return "public key";
        case ObjectKind::secret_key: return "secret key";
        case ObjectKind::signature: return "signature";
    }
    return "?";
}

std::string describe(const FileInfo& info) {
    return std::string(kind_name(info.kind)) + ", level " + level_name(info.level);
}

std::size_t largest_object_size() noexcept {
    std::size_t largest = 0;
    for (const Level level : kAllLevels) {
        const Sizes size = sizes(level);
        largest = std::max({largest, size.public_key, size.secret_key, size.signature});
    }
    return largest;
}

}  // namespace ringtrap::cli
