#include "tool_args.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <map>
#include <optional>
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
        {"--level", true}, {"--public-key", true}, {"--secret-key", true}, {"--force", false}, {"--armor", false}};
    static constexpr OptionRule sign[] = {{"--secret-key", true}, {"--public-key", true}, {"--in", true},
                                          {"--out", true},        {"--armor", false},     {"--batch", false},
                                          {"--jobs", true}};
    static constexpr OptionRule verify[] = {
        {"--public-key", true}, {"--signature", true}, {"--in", true}, {"--batch", false}, {"--jobs", true}};
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

std::string normal_path(const std::string& path) { return std::filesystem::path(path).lexically_normal().string(); }

bool same_path(const std::string& a, const std::string& b) { return normal_path(a) == normal_path(b); }

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
            if (!cmd.batch && (missing = require(cmd.signature, "--signature"))) return missing;
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

    if (cmd.jobs != 0 && !cmd.batch) return usage("--jobs applies to --batch only");
    if (cmd.batch) {
        const std::pair<const std::string*, std::string_view> single[] = {
            {&cmd.input, "--in"}, {&cmd.output, "--out"}, {&cmd.signature, "--signature"}};
        for (const auto& [value, option] : single)
            if (!value->empty())
                return usage(std::string(option) + " does not go with --batch, which names its messages as FILE "
                             "arguments and their signatures FILE" + std::string(kSignatureSuffix));
        if (cmd.files.empty()) return usage(name + " --batch needs at least one FILE");
        for (const std::string& file : cmd.files) {
            if (file.empty()) return usage(name + " --batch got an empty FILE name");
            if (file == "-")
                return usage("--batch reads no FILE from standard input ('-'); write './-' for a file of that name");
        }
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
    if (cmd.action == Action::sign && cmd.batch) {
        // Two signatures to one name would leave only one of them. Maps of
        // normalised names keep this at n log n for long file lists.
        std::map<std::string, std::string_view> inputs_by_name;
        for (const auto& [value, option] : inputs)
            if (!value->empty() && *value != "-") inputs_by_name.emplace(normal_path(*value), option);
        for (const std::string& file : cmd.files) inputs_by_name.emplace(normal_path(file), "FILE");
        std::map<std::string, const std::string*> outputs;
        for (const std::string& file : cmd.files) {
            const std::string signature = file + std::string(kSignatureSuffix);
            const std::string normal = normal_path(signature);
            if (const auto input = inputs_by_name.find(normal); input != inputs_by_name.end())
                return usage("the signature " + in_quotes(signature) + " of " + in_quotes(file) + " is also the input " +
                             std::string(input->second) + " " + in_quotes(signature));
            const auto [other, fresh] = outputs.emplace(normal, &file);
            if (!fresh)
                return usage(in_quotes(*other->second) + " and " + in_quotes(file) + " both sign into " +
                             in_quotes(signature) + "; name each FILE once");
        }
    } else if (cmd.action == Action::sign && cmd.output != "-") {
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
            (option == "--force" ? cmd.force : option == "--batch" ? cmd.batch : cmd.armor) = true;
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
        } else if (option == "--jobs") {
            unsigned jobs = 0;
            const char* end = value.data() + value.size();
            const auto [ptr, ec] = std::from_chars(value.data(), end, jobs);
            if (ec != std::errc{} || ptr != end || jobs < 1 || jobs > kMaxJobs)
                return usage("--jobs must be a whole number from 1 to " + std::to_string(kMaxJobs) + ", not " +
                             in_quotes(value));
            cmd.jobs = jobs;
        } else {
            *field_of(cmd, option) = std::move(value);
        }
    }

    if (cmd.action == Action::info) {
        if (positional.size() > 1) return usage("info takes one FILE, got " + std::to_string(positional.size()));
        if (positional.size() == 1) cmd.input = positional[0];
    } else if (cmd.batch) {
        cmd.files = std::move(positional);
    } else {
        if (!positional.empty())
            return usage("unexpected argument " + in_quotes(positional[0]) + " for " + name +
                         (cmd.action == Action::keygen ? "" : " (message files as arguments need --batch)"));
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
           "  ringtrap keygen [--level s128|s256|128|256] --public-key PK --secret-key SK [--force] [--armor]\n"
           "  ringtrap sign   --secret-key SK --public-key PK [--in FILE] [--out SIG] [--armor]\n"
           "  ringtrap verify --public-key PK --signature SIG [--in FILE]\n"
           "  ringtrap sign   --batch --secret-key SK --public-key PK [--jobs N] [--armor] FILE...\n"
           "  ringtrap verify --batch --public-key PK [--jobs N] FILE...\n"
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
           "Many files at once: with --batch, sign writes the signature of each FILE to\n"
           "FILE.sig (armoured with --armor, still named FILE.sig) and verify checks each\n"
           "FILE against FILE.sig, printing \"FILE: valid\", \"FILE: invalid\" or \"FILE: error\"\n"
           "on standard output, one line per FILE in the order given (the cause of an\n"
           "error on standard error). The keys are read once; --jobs N workers (default:\n"
           "one per core) each sign or verify whole files, every one read in full into\n"
           "memory. A file that fails does not stop the others. Two FILEs with one\n"
           "signature name, or a signature name that is also an input, stop sign before\n"
           "anything is read or written.\n"
           "\n"
           "Levels: S128 and S256 are the key-independent sets (signatures reveal nothing\n"
           "about the secret key; constant-time signing): use them for new keys. 128 and\n"
           "256 are the original sets, kept for compatibility: a few hundred of their\n"
           "signatures reveal the secret key, and 128 is far weaker than its name.\n"
           "\n"
           "Keys and signatures are raw bytes in the library's fixed formats, without a\n"
           "header; the level is recognised from the file sizes. With --armor, keygen and\n"
           "sign write them as text instead: a line \"-----BEGIN RINGTRAP SIGNATURE S128-----\"\n"
           "(or PUBLIC KEY, SECRET KEY; and the level), base64 lines of 64 characters and\n"
           "a matching END line. Every command reads either form, recognised from the\n"
           "content. Files are written to a temporary file first and renamed into place,\n"
           "so they are never half-written.\n"
           "\n"
           "Examples:\n"
           "  ringtrap keygen --public-key alice.pk --secret-key alice.sk\n"
           "  ringtrap keygen --level s256 --public-key big.pk --secret-key big.sk\n"
           "  ringtrap sign --secret-key alice.sk --public-key alice.pk --in report.pdf --out report.sig\n"
           "  ringtrap sign --armor --secret-key alice.sk --public-key alice.pk --in note.txt > note.sig.asc\n"
           "  tar c docs | ringtrap sign --secret-key alice.sk --public-key alice.pk > docs.sig\n"
           "  ringtrap verify --public-key alice.pk --signature report.sig --in report.pdf\n"
           "  ringtrap sign --batch --secret-key alice.sk --public-key alice.pk *.pdf\n"
           "  ringtrap verify --batch --public-key alice.pk *.pdf\n"
           "  ringtrap info report.sig\n"
           "\n"
           "Exit status: 0 success (or a valid signature), 1 invalid signature,\n"
           "2 usage or input error. For a batch: the worst over its files (verify: 0 all\n"
           "valid, 1 some invalid, 2 some could not be checked; sign: 0 or 2).\n";
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

// ---- The armoured text form ------------------------------------------------

namespace {

constexpr std::string_view kBegin = "-----BEGIN ";
constexpr std::string_view kOwnBegin = "-----BEGIN RINGTRAP ";
constexpr std::string_view kOwnEnd = "-----END RINGTRAP ";
constexpr std::string_view kDashes = "-----";
constexpr std::size_t kLineChars = 64;

const char* kind_label(ObjectKind kind) noexcept {
    switch (kind) {
        case ObjectKind::public_key: return "PUBLIC KEY";
        case ObjectKind::secret_key: return "SECRET KEY";
        case ObjectKind::signature: return "SIGNATURE";
    }
    return "?";
}

// "SIGNATURE S128": what both lines carry between the fixed parts.
std::string label_of(const FileInfo& info) { return std::string(kind_label(info.kind)) + " " + level_name(info.level); }

std::size_t object_size(const FileInfo& info) noexcept {
    const Sizes s = sizes(info.level);
    switch (info.kind) {
        case ObjectKind::public_key: return s.public_key;
        case ObjectKind::secret_key: return s.secret_key;
        case ObjectKind::signature: return s.signature;
    }
    return 0;
}

bool is_blank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view line) noexcept {
    while (!line.empty() && is_blank(line.back())) line.remove_suffix(1);
    while (!line.empty() && is_blank(line.front())) line.remove_prefix(1);
    return line;
}

// All-ones when a <= c <= b, else zero, without a branch on c.
constexpr unsigned in_range(unsigned c, unsigned a, unsigned b) noexcept {
    return 0u - (((c - a) | (b - c)) >> 31 ^ 1u);
}

// The value of a base64 character, or -1 (as all ones) for any other byte;
// arithmetic only, no lookup indexed by the character.
constexpr unsigned base64_value(unsigned char ch) noexcept {
    const unsigned c = ch;
    unsigned v = 0xFFFFFFFFu;
    v ^= in_range(c, 'A', 'Z') & ((c - 'A') ^ v);
    v ^= in_range(c, 'a', 'z') & ((c - 'a' + 26) ^ v);
    v ^= in_range(c, '0', '9') & ((c - '0' + 52) ^ v);
    v ^= in_range(c, '+', '+') & (62 ^ v);
    v ^= in_range(c, '/', '/') & (63 ^ v);
    return v;
}

// The base64 character of a 6-bit value, likewise without a lookup.
constexpr char base64_char(unsigned v) noexcept {
    unsigned c = v + 'A';
    c += in_range(v, 26, 51) & ('a' - 'A' - 26);
    c += in_range(v, 52, 61) & (0u - ('A' + 52 - '0'));
    c += in_range(v, 62, 62) & (0u - ('A' + 62 - '+'));
    c += in_range(v, 63, 63) & (0u - ('A' + 63 - '/'));
    return static_cast<char>(c);
}

static_assert(base64_value('A') == 0 && base64_value('z') == 51 && base64_value('0') == 52 && base64_value('+') == 62 &&
              base64_value('/') == 63 && base64_value('=') == 0xFFFFFFFFu && base64_value(0xC1) == 0xFFFFFFFFu);
static_assert(base64_char(0) == 'A' && base64_char(25) == 'Z' && base64_char(26) == 'a' && base64_char(52) == '0' &&
              base64_char(62) == '+' && base64_char(63) == '/');

// A line of the text for a message: quoted, control bytes and bytes outside
// ASCII shown as \xNN, at most 60 characters.
std::string shown_line(std::string_view line) {
    std::string text = in_quotes(line.substr(0, 60));
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80) {
            static const char* const hex = "0123456789abcdef";
            text.replace(i, 1, std::string("\\x") + hex[byte >> 4] + hex[byte & 15]);
            i += 3;
        }
    }
    return line.size() > 60 ? text + "..." : text;
}

}  // namespace

bool looks_armored(std::span<const std::uint8_t> content) noexcept {
    std::size_t i = 0;
    while (i < content.size() && is_blank(static_cast<char>(content[i]))) ++i;
    const std::string_view rest(reinterpret_cast<const char*>(content.data()) + i, content.size() - i);
    return rest.starts_with(kBegin);
}

std::variant<Armored, std::string> parse_armor(std::span<const std::uint8_t> content) {
    const std::string_view text(reinterpret_cast<const char*>(content.data()), content.size());
    std::size_t pos = 0, line_number = 0;
    // The next line without its line end and blanks around it (and where it
    // starts); false at the end.
    auto next_line = [&](std::string_view& next, std::size_t& next_start) {
        if (pos >= text.size()) return false;
        next_start = pos;
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        next = trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++line_number;
        return true;
    };
    std::string_view line;
    std::size_t start = 0;
    do {
        if (!next_line(line, start)) return std::string("armoured text without a begin line");
    } while (line.empty());

    const std::string head = "line " + std::to_string(line_number) + ": ";
    if (!line.starts_with(kOwnBegin) || !line.ends_with(kDashes) || line.size() < kOwnBegin.size() + kDashes.size())
        return head + "the begin line " + shown_line(line) + " is not that of a ringtrap key or signature "
                      "(-----BEGIN RINGTRAP PUBLIC KEY|SECRET KEY|SIGNATURE LEVEL-----)";
    const std::string_view label = line.substr(kOwnBegin.size(), line.size() - kOwnBegin.size() - kDashes.size());
    const std::size_t space = label.rfind(' ');
    const std::string_view kind_text = label.substr(0, space == std::string_view::npos ? 0 : space);
    const std::string_view level_text = space == std::string_view::npos ? label : label.substr(space + 1);
    std::optional<ObjectKind> kind;
    for (const ObjectKind k : {ObjectKind::public_key, ObjectKind::secret_key, ObjectKind::signature})
        if (kind_text == kind_label(k)) kind = k;
    if (!kind)
        return head + "the begin line names " + shown_line(kind_text) +
               ", which is not PUBLIC KEY, SECRET KEY or SIGNATURE";
    std::optional<Level> level;
    for (const Level l : kAllLevels)
        if (level_text == level_name(l)) level = l;
    if (!level) return head + "the begin line names level " + shown_line(level_text) + ", which is not S128, S256, 128 or 256";

    Armored out{FileInfo{*kind, *level}, 0, {}};
    const std::string end_line = std::string(kOwnEnd) + std::string(label) + std::string(kDashes);
    const std::size_t body_start = pos;
    std::size_t chars = 0, padding = 0;
    unsigned last_value = 0;
    for (;;) {
        if (!next_line(line, start)) return "no end line " + in_quotes(end_line);
        if (line.starts_with("-----")) break;
        for (const char c : line) {
            if (c == ' ' || c == '\t') continue;
            const unsigned v = base64_value(static_cast<unsigned char>(c));
            if (c == '=') {
                ++padding;
            } else if (v > 63 || padding != 0) {
                return "line " + std::to_string(line_number) + ": " +
                       (v > 63 ? "the byte " + shown_line(std::string_view(&c, 1)) + " is not base64"
                               : std::string("base64 continues after '=' padding"));
            } else {
                last_value = v;
            }
            ++chars;
        }
    }
    out.body = text.substr(body_start, start - body_start);
    if (line != end_line)
        return "line " + std::to_string(line_number) + ": the end line " + shown_line(line) + " does not match the begin line (" +
               in_quotes(end_line) + ")";
    while (next_line(line, start))
        if (!line.empty()) return "line " + std::to_string(line_number) + ": text after the end line";

    // Canonical base64: whole groups of four, at most two '=', and no bits set
    // beyond the data in the last character.
    if (chars % 4 != 0 || padding > 2) return std::string("the base64 is cut short or badly padded");
    if ((padding == 1 && (last_value & 3) != 0) || (padding == 2 && (last_value & 15) != 0))
        return std::string("the base64 is not in canonical form (bits set past the end of the data)");
    out.size = chars / 4 * 3 - padding;
    const std::size_t want = object_size(out.info);
    if (out.size != want)
        return "armoured " + label_of(out.info) + " holds " + std::to_string(out.size) + " bytes; a " +
               kind_name(out.info.kind) + " of level " + level_name(out.info.level) + " has " + std::to_string(want);
    return out;
}

void decode_armor(const Armored& armored, std::span<std::uint8_t> out) noexcept {
    std::uint32_t group = 0;
    unsigned have = 0;
    std::size_t written = 0;
    for (const char c : armored.body) {
        const unsigned v = base64_value(static_cast<unsigned char>(c));
        if (v > 63) continue;  // line ends, blanks and padding (all checked by parse_armor)
        group = group << 6 | v;
        if (++have == 4) {
            for (int shift = 16; shift >= 0 && written < out.size(); shift -= 8)
                out[written++] = static_cast<std::uint8_t>(group >> shift);
            group = 0;
            have = 0;
        }
    }
    // The last, padded group: its characters carry 1 or 2 bytes.
    if (have != 0) {
        group <<= 6 * (4 - have);
        for (int shift = 16; shift >= 0 && written < out.size(); shift -= 8)
            out[written++] = static_cast<std::uint8_t>(group >> shift);
    }
}

std::size_t armored_size(const FileInfo& info, std::size_t size) noexcept {
    const std::size_t chars = (size + 2) / 3 * 4;
    const std::size_t label = label_of(info).size();
    return kOwnBegin.size() + label + kDashes.size() + 1 + chars + (chars + kLineChars - 1) / kLineChars +
           kOwnEnd.size() + label + kDashes.size() + 1;
}

void encode_armor(const FileInfo& info, std::span<const std::uint8_t> bytes, std::span<std::uint8_t> out) noexcept {
    std::size_t at = 0;
    auto put = [&](std::string_view piece) {
        for (const char c : piece) out[at++] = static_cast<std::uint8_t>(c);
    };
    const std::string label = label_of(info);
    put(kOwnBegin), put(label), put(kDashes), put("\n");
    std::size_t line = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (n > 1) group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        if (n > 2) group |= bytes[i + 2];
        for (std::size_t j = 0; j < 4; ++j) {
            out[at++] = static_cast<std::uint8_t>(j <= n ? base64_char(group >> (18 - 6 * j) & 63) : '=');
            if (++line == kLineChars) out[at++] = '\n', line = 0;
        }
    }
    if (line != 0) out[at++] = '\n';
    put(kOwnEnd), put(label), put(kDashes), put("\n");
}

std::size_t largest_file_size() noexcept {
    std::size_t largest = largest_object_size();
    for (const Level level : kAllLevels)
        for (const ObjectKind kind : {ObjectKind::public_key, ObjectKind::secret_key, ObjectKind::signature}) {
            const FileInfo info{kind, level};
            const std::size_t text = armored_size(info, object_size(info));
            // CRLF line ends, and room for blank lines and blanks at line ends.
            largest = std::max(largest, text + text / kLineChars + 4096);
        }
    return largest;
}

}  // namespace ringtrap::cli
