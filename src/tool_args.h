// The pure half of the command-line tool: argument parsing, recognising what a
// key or signature file is, and the armoured text form. Nothing here touches
// files, streams or the process-wide parameters, so tests and fuzz targets can
// call it directly.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ringtrap.h"

namespace ringtrap::cli {

enum class Action { help, version, keygen, sign, verify, info };

// Every level, the recommended ones first.
inline constexpr Level kAllLevels[] = {Level::S128, Level::S256, Level::L128, Level::L256};

// The suffix a batch adds to each message file's name for its signature.
inline constexpr std::string_view kSignatureSuffix = ".sig";

// The most worker threads --jobs may ask for.
inline constexpr unsigned kMaxJobs = 1024;

// A parsed command line. Paths are as given; "-" stands for standard input
// (inputs) or standard output (`output`). Fields a command does not use stay
// empty.
//
// A batch (sign or verify with --batch) names its messages as `files` instead
// of --in, each FILE paired with the signature FILE.sig; `input`, `output` and
// `signature` then stay empty.
struct Command {
    Action action = Action::help;
    Level level = Level::S128;  // keygen only
    bool force = false;         // keygen only: replace existing key files
    bool armor = false;         // keygen, sign: write the armoured text form
    std::string public_key;     // keygen: written; sign, verify: read
    std::string secret_key;     // keygen: written; sign: read
    std::string signature;      // verify: read
    std::string input;          // sign, verify: the message ("-" by default); info: the file
    std::string output;         // sign: the signature ("-" by default)
    bool batch = false;              // sign, verify: many files, `files`
    unsigned jobs = 0;               // batch: worker threads (0: one per core)
    std::vector<std::string> files;  // batch: the messages, in the order given
};

// Why a command line was rejected: one line, without the program-name prefix.
struct UsageError {
    std::string message;
};

using ParseResult = std::variant<Command, UsageError>;

// Parses the arguments after the program name. An empty list is a usage error
// (the program itself runs its demonstration in that case). `--help`/`-h`
// anywhere after a subcommand asks for help. Options take their value as the
// next argument or after '='; a value cannot start with "--" (so a forgotten
// value is not mistaken for the next option: write "./--name" for such a file).
// Rejects unknown and repeated options, missing required options, levels other
// than s128, s256, 128 and 256, two inputs read from standard input, keygen with the same
// path (or "-") for both keys, and sign with an output path equal to one of its
// inputs. A batch must name at least one FILE, none of them "-", and takes
// neither --in, --out nor --signature; --jobs needs --batch. A signing batch
// whose signature names coincide (two spellings of one FILE) or fall on one
// of its inputs (FILE and FILE.sig both given) is rejected, as far as the
// spelling tells; the tool checks the files themselves again.
[[nodiscard]] ParseResult parse_arguments(std::span<const std::string> args);

// The help text shown by --help (ends with a line break).
const char* help_text() noexcept;

enum class ObjectKind { public_key, secret_key, signature };

struct FileInfo {
    ObjectKind kind;
    Level level;
};

// What a key or signature file holds, from its size and content: secret keys
// have sizes of their own; public keys and signatures of a level share a size,
// and a public key is told apart by its first entry, which is always the
// constant polynomial 1. nullopt when the size matches no object of either
// level.
[[nodiscard]] std::optional<FileInfo> classify_file(std::span<const std::uint8_t> bytes) noexcept;

// "public key", "secret key" or "signature".
const char* kind_name(ObjectKind kind) noexcept;

// E.g. "public key, level 128".
std::string describe(const FileInfo& info);

// The largest key or signature of any level, in bytes.
std::size_t largest_object_size() noexcept;

// ---- The armoured text form ----
//
//   -----BEGIN RINGTRAP SIGNATURE S128-----
//   base64 of the bytes (standard alphabet, '=' padding), 64 characters a line
//   -----END RINGTRAP SIGNATURE S128-----
//
// The begin line names the object (PUBLIC KEY, SECRET KEY or SIGNATURE) and
// its level (S128, S256, 128 or 256); the end line repeats it. Reading also
// accepts CRLF line ends, blanks around lines, blank lines and body lines of
// any length (text re-wrapped by a mailer), but nothing else: the base64 must
// be canonical and the decoded length that of the named object.

// True when the content is armoured text: after blank space it starts with
// "-----BEGIN " (binary keys and signatures never do: a public key starts with
// 01 00 00 00, a secret key with a small coefficient, and a signature's
// leading bytes would have to spell the line by chance).
[[nodiscard]] bool looks_armored(std::span<const std::uint8_t> content) noexcept;

// Armoured text, checked: what it holds and where its base64 is.
struct Armored {
    FileInfo info;          // from the begin line
    std::size_t size;       // decoded length: that object's size at that level
    std::string_view body;  // the text between the begin and end lines
};

// Parses and checks armoured text without decoding it; on failure, one line
// saying what is wrong (without the file's name). `body` points into `content`.
[[nodiscard]] std::variant<Armored, std::string> parse_armor(std::span<const std::uint8_t> content);

// Decodes checked armour into `out` (armored.size bytes). The characters are
// mapped to values without tables or branches on them: the body may be a
// secret key.
void decode_armor(const Armored& armored, std::span<std::uint8_t> out) noexcept;

// Length of the armoured text of `size` bytes of this object, and the text
// itself written to `out` (that many bytes).
[[nodiscard]] std::size_t armored_size(const FileInfo& info, std::size_t size) noexcept;
void encode_armor(const FileInfo& info, std::span<const std::uint8_t> bytes, std::span<std::uint8_t> out) noexcept;

// The largest file a key or signature can be, in either form (with CRLF line
// ends and some blank space); reading more of such a file is never needed.
std::size_t largest_file_size() noexcept;

}  // namespace ringtrap::cli
