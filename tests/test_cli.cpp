// The command-line tool: argument parsing and file recognition as functions,
// then the real executable end to end, each test in a fresh directory.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cli.h"
#include "ringtrap.h"
#include "test_support.h"
#include "tool_args.h"

extern char** environ;

namespace ringtrap {
namespace {

namespace fs = std::filesystem;
using cli::Action;
using cli::Command;
using cli::ObjectKind;
using cli::UsageError;

// ---- parse_arguments -------------------------------------------------------

cli::ParseResult parse(std::vector<std::string> args) { return cli::parse_arguments(args); }

Command parse_ok(std::vector<std::string> args) {
    const auto result = parse(args);
    if (const auto* error = std::get_if<UsageError>(&result)) ADD_FAILURE() << error->message;
    return std::holds_alternative<Command>(result) ? std::get<Command>(result) : Command{};
}

TEST(ParseArguments, AcceptsEachCommandWithDefaults) {
    Command c = parse_ok({"keygen", "--public-key", "a.pk", "--secret-key", "a.sk"});
    EXPECT_EQ(c.action, Action::keygen);
    EXPECT_EQ(c.level, Level::S128);  // new keys are key-independent unless asked otherwise
    EXPECT_FALSE(c.force);
    EXPECT_EQ(c.public_key, "a.pk");
    EXPECT_EQ(c.secret_key, "a.sk");

    c = parse_ok({"keygen", "--force", "--level=256", "--secret-key=s", "--public-key", "p"});
    EXPECT_EQ(c.level, Level::L256);
    EXPECT_TRUE(c.force);
    EXPECT_FALSE(c.armor);
    EXPECT_TRUE(parse_ok({"keygen", "--armor", "--secret-key=s", "--public-key", "p"}).armor);
    EXPECT_FALSE(parse_ok({"keygen", "--armor", "--secret-key=s", "--public-key", "p"}).force);
    EXPECT_EQ(c.secret_key, "s");

    c = parse_ok({"sign", "--secret-key", "s", "--public-key", "p"});
    EXPECT_EQ(c.action, Action::sign);
    EXPECT_FALSE(c.armor);
    EXPECT_TRUE(parse_ok({"sign", "--secret-key", "s", "--public-key", "p", "--armor"}).armor);
    EXPECT_EQ(c.input, "-");
    EXPECT_EQ(c.output, "-");

    c = parse_ok({"verify", "--signature", "x", "--public-key", "p", "--in", "-"});
    EXPECT_EQ(c.action, Action::verify);
    EXPECT_EQ(c.signature, "x");
    EXPECT_EQ(c.input, "-");

    // Batches: files as arguments (after "--" too), no default input or output.
    c = parse_ok({"sign", "--batch", "--jobs=3", "--secret-key", "s", "--public-key", "p", "a", "b", "--", "-c"});
    EXPECT_TRUE(c.batch);
    EXPECT_EQ(c.jobs, 3u);
    EXPECT_EQ(c.files, (std::vector<std::string>{"a", "b", "-c"}));
    EXPECT_EQ(c.input, "");
    EXPECT_EQ(c.output, "");
    c = parse_ok({"verify", "--batch", "--public-key", "p", "a", "./a"});  // reading twice harms nothing
    EXPECT_EQ(c.files.size(), 2u);
    EXPECT_EQ(c.jobs, 0u);
    EXPECT_EQ(c.signature, "");

    c = parse_ok({"info", "--", "-odd-name"});
    EXPECT_EQ(c.action, Action::info);
    EXPECT_EQ(c.input, "-odd-name");

    EXPECT_EQ(parse_ok({"--help"}).action, Action::help);
    EXPECT_EQ(parse_ok({"sign", "--secret-key", "s", "--help"}).action, Action::help);
    EXPECT_EQ(parse_ok({"--version"}).action, Action::version);
}

struct UsageCase {
    std::vector<std::string> args;
    std::string expected;  // part of the message
};

class ParseUsageErrors : public ::testing::TestWithParam<UsageCase> {};

TEST_P(ParseUsageErrors, RejectsWithMessage) {
    const auto result = parse(GetParam().args);
    ASSERT_TRUE(std::holds_alternative<UsageError>(result));
    const std::string& message = std::get<UsageError>(result).message;
    EXPECT_NE(message.find(GetParam().expected), std::string::npos) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseUsageErrors,
    ::testing::Values(
        UsageCase{{}, "no command"}, UsageCase{{"frobnicate"}, "unknown command 'frobnicate'"},
        UsageCase{{"bad\nname\x1b[2J"}, "unknown command 'bad\\x0aname\\x1b[2J'"},
        UsageCase{{"--frobnicate"}, "unknown option '--frobnicate'"},
        UsageCase{{"--version", "x"}, "takes no arguments"},
        UsageCase{{"sign", "--secret-key", "s", "--public-key", "p", "--force"}, "unknown option '--force' for sign"},
        UsageCase{{"verify", "--public-key", "p", "--signature", "x", "--out", "o"}, "unknown option '--out'"},
        UsageCase{{"verify", "--public-key", "p", "--signature", "x", "--armor"}, "unknown option '--armor' for verify"},
        UsageCase{{"sign", "--armor", "--armor", "--secret-key", "s", "--public-key", "p"}, "more than once"},
        UsageCase{{"sign", "-x", "--secret-key", "s", "--public-key", "p"}, "unknown option '-x'"},
        UsageCase{{"keygen", "--secret-key", "s"}, "keygen needs --public-key"},
        UsageCase{{"sign", "--public-key", "p"}, "sign needs --secret-key"},
        UsageCase{{"verify", "--public-key", "p"}, "verify needs --signature"},
        UsageCase{{"info"}, "info needs a FILE"}, UsageCase{{"info", "a", "b"}, "one FILE"},
        UsageCase{{"sign", "--secret-key", "s", "--public-key", "p", "stray"}, "unexpected argument 'stray'"},
        UsageCase{{"sign", "--secret-key"}, "'--secret-key' needs a value"},
        UsageCase{{"sign", "--secret-key", "--public-key", "p"}, "'--secret-key' needs a value"},
        UsageCase{{"sign", "--secret-key=", "--public-key", "p"}, "empty value"},
        UsageCase{{"keygen", "--force=yes", "--public-key", "p", "--secret-key", "s"}, "takes no value"},
        UsageCase{{"sign", "--in", "a", "--in", "b", "--secret-key", "s", "--public-key", "p"}, "more than once"},
        UsageCase{{"keygen", "--level", "192", "--public-key", "p", "--secret-key", "s"}, "128 or 256, not '192'"},
        UsageCase{{"keygen", "--public-key", "k", "--secret-key", "./k"}, "same file"},
        UsageCase{{"keygen", "--public-key", "d/../k", "--secret-key", "k"}, "same file"},
        UsageCase{{"keygen", "--public-key", "-", "--secret-key", "s"}, "not allowed"},
        UsageCase{{"sign", "--secret-key", "-", "--public-key", "p"}, "only one input"},  // message too
        UsageCase{{"verify", "--public-key", "p", "--signature", "-", "--in", "-"}, "only one input"},
        UsageCase{{"sign", "--secret-key", "s", "--public-key", "p", "--in", "m", "--out", "./m"}, "also the input --in"},
        UsageCase{{"sign", "--secret-key", "s", "--public-key", "p", "--in", "m", "--out", "s"},
                  "also the input --secret-key"},
        UsageCase{{"sign", "--batch", "--secret-key", "s", "--public-key", "p"}, "sign --batch needs at least one FILE"},
        UsageCase{{"verify", "--batch", "--public-key", "p", "--signature", "x", "a"}, "--signature does not go with --batch"},
        UsageCase{{"sign", "--batch", "--secret-key", "s", "--public-key", "p", "--in", "m", "a"}, "--in does not go"},
        UsageCase{{"sign", "--batch", "--secret-key", "s", "--public-key", "p", "--out", "o", "a"}, "--out does not go"},
        UsageCase{{"verify", "--batch", "--public-key", "p", "a", "-"}, "no FILE from standard input"},
        UsageCase{{"verify", "--batch", "--public-key", "p", "a", ""}, "verify --batch got an empty FILE name"},
        UsageCase{{"sign", "--jobs", "2", "--secret-key", "s", "--public-key", "p"}, "--jobs applies to --batch only"},
        UsageCase{{"verify", "--batch", "--jobs", "0", "--public-key", "p", "a"}, "from 1 to 1024, not '0'"},
        UsageCase{{"verify", "--batch", "--jobs=1025", "--public-key", "p", "a"}, "not '1025'"},
        UsageCase{{"verify", "--batch", "--jobs", "2x", "--public-key", "p", "a"}, "not '2x'"},
        UsageCase{{"verify", "--batch", "--jobs", "-1", "--public-key", "p", "a"}, "not '-1'"},
        UsageCase{{"sign", "--batch", "--secret-key", "s", "--public-key", "p", "d/a", "d/x/../a"},
                  "'d/a' and 'd/x/../a' both sign into 'd/x/../a.sig'"},
        UsageCase{{"sign", "--batch", "--secret-key", "s", "--public-key", "p", "a.sig", "a"},
                  "the signature 'a.sig' of 'a' is also the input FILE"},
        UsageCase{{"sign", "--batch", "--secret-key", "k.sig", "--public-key", "p", "./k"}, "is also the input --secret-key"}));

// ---- classify_file ---------------------------------------------------------

class ClassifyFile : public testing::PerLevel {};

TEST_P(ClassifyFile, TellsObjectsApartBySizeAndFirstEntry) {
    const Level level = static_cast<Level>(P().level);
    std::vector<std::uint8_t> pk(P().public_key_bytes(), 0x5a);
    std::fill(pk.begin(), pk.begin() + 4 * P().n, 0);
    pk[0] = 1;
    auto info = cli::classify_file(pk);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->kind, ObjectKind::public_key);
    EXPECT_EQ(info->level, level);
    EXPECT_EQ(cli::describe(*info), "public key, level " + std::to_string(P().level));

    // Any change to the first entry makes it a signature: the last byte of the
    // entry, the sign bit of coefficient 0, coefficient 0 itself.
    for (std::size_t pos : {static_cast<std::size_t>(4 * P().n - 1), std::size_t{3}, std::size_t{0}}) {
        auto sig = pk;
        sig[pos] ^= 0x80;
        info = cli::classify_file(sig);
        ASSERT_TRUE(info);
        EXPECT_EQ(info->kind, ObjectKind::signature) << pos;
        EXPECT_EQ(info->level, level);
    }
    // Bytes behind the first entry do not matter.
    auto pk2 = pk;
    pk2[4 * P().n] = 0x01;
    EXPECT_EQ(cli::classify_file(pk2)->kind, ObjectKind::public_key);

    const std::vector<std::uint8_t> sk(P().secret_key_bytes(), 0);
    info = cli::classify_file(sk);
    ASSERT_TRUE(info);
    EXPECT_EQ(cli::describe(*info), "secret key, level " + std::to_string(P().level));

    // One byte more or fewer matches nothing.
    for (std::size_t size : {P().public_key_bytes() - 1, P().public_key_bytes() + 1, P().secret_key_bytes() - 1,
                             P().secret_key_bytes() + 1})
        EXPECT_FALSE(cli::classify_file(std::vector<std::uint8_t>(size, 0))) << size;
}

TEST(ClassifyFileSizes, EmptyAndOddSizesMatchNothing) {
    EXPECT_FALSE(cli::classify_file({}));
    EXPECT_FALSE(cli::classify_file(std::vector<std::uint8_t>(4, 1)));
    EXPECT_EQ(cli::largest_object_size(), kParams256.secret_key_bytes());  // the largest object of any level
}

INSTANTIATE_TEST_SUITE_P(Levels, ClassifyFile, ::testing::ValuesIn(testing::kAllParamSets), testing::param_name);

// ---- The executable --------------------------------------------------------

using ByteVec = std::vector<std::uint8_t>;

struct RunResult {
    int status = -1;  // exit status, or -signal
    std::string out;
    std::string err;
};

struct Io {
    std::string stdin_path = "/dev/null";
    std::optional<ByteVec> stdin_pipe;  // fed through a pipe instead
    std::string stdout_path;            // default: a capture file
};

ByteVec read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return ByteVec(std::istreambuf_iterator<char>(in), {});
}

std::string read_text(const std::string& path) {
    const ByteVec b = read_bytes(path);
    return std::string(b.begin(), b.end());
}

void write_bytes(const std::string& path, const ByteVec& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

ByteVec random_bytes(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    ByteVec b(size);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    if (size > 2) b[1] = 0;  // binary content: a NUL byte near the front
    return b;
}

mode_t file_mode(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

mode_t current_umask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// A fresh directory per test: `work/` for the files under test, captures beside it.
class Workspace {
public:
    Workspace() {
        std::string templ = (fs::temp_directory_path() / "ringtrap-cli-XXXXXX").string();
        if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        root_ = templ;
        fs::create_directory(root_ / "work");
        // A pipe writer must see EPIPE rather than die when the tool exits early.
        ::signal(SIGPIPE, SIG_IGN);
    }
    ~Workspace() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    std::string path(const std::string& name) const { return (root_ / "work" / name).string(); }

    std::set<std::string> files() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(root_ / "work")) names.insert(e.path().filename().string());
        return names;
    }

    RunResult run(const std::vector<std::string>& args, const Io& io = {}) const {
        const std::string out_path = io.stdout_path.empty() ? (root_ / "stdout").string() : io.stdout_path;
        const std::string err_path = (root_ / "stderr").string();

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int pipe_fds[2] = {-1, -1};
        if (io.stdin_pipe) {
            if (::pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
            posix_spawn_file_actions_adddup2(&actions, pipe_fds[0], STDIN_FILENO);
            posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
            posix_spawn_file_actions_addclose(&actions, pipe_fds[1]);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, io.stdin_path.c_str(), O_RDONLY, 0);
        }
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // The tool gets SIGPIPE back at its default.
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);

        std::vector<std::string> argv_strings{RINGTRAP_CLI_PATH};
        argv_strings.insert(argv_strings.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argv_strings) argv.push_back(a.data());
        argv.push_back(nullptr);

        pid_t pid = -1;
        const int rc = posix_spawn(&pid, RINGTRAP_CLI_PATH, &actions, &attr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
        if (io.stdin_pipe) {
            ::close(pipe_fds[0]);
            const ByteVec& data = *io.stdin_pipe;
            std::size_t done = 0;
            while (rc == 0 && done < data.size()) {
                const ssize_t put = ::write(pipe_fds[1], data.data() + done, data.size() - done);
                if (put < 0 && errno == EINTR) continue;
                if (put <= 0) break;  // the tool stopped reading
                done += static_cast<std::size_t>(put);
            }
            ::close(pipe_fds[1]);
        }
        if (rc != 0) throw std::runtime_error("posix_spawn failed");

        int wstatus = 0;
        while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
        }
        RunResult result;
        result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -WTERMSIG(wstatus);
        if (io.stdout_path.empty()) result.out = read_text(out_path);
        result.err = read_text(err_path);
        return result;
    }

private:
    fs::path root_;
};

// Exit 2, nothing on standard output, one line "ringtrap: ..." containing every
// expected fragment.
void expect_error(const RunResult& r, std::initializer_list<std::string> fragments) {
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("ringtrap: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    for (const auto& f : fragments) EXPECT_NE(r.err.find(f), std::string::npos) << "missing '" << f << "' in " << r.err;
}

// ---- The armoured form -----------------------------------------------------

using cli::FileInfo;
using Text = std::vector<std::uint8_t>;

Text to_text(const std::string& s) { return Text(s.begin(), s.end()); }

// A plain table-driven encoder, independent of the tool's arithmetic one.
std::string reference_base64(const std::vector<std::uint8_t>& bytes) {
    static const char* const alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t g = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) g |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) g |= bytes[i + 2];
        out += alphabet[g >> 18 & 63];
        out += alphabet[g >> 12 & 63];
        out += i + 1 < bytes.size() ? alphabet[g >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? alphabet[g & 63] : '=';
    }
    return out;
}

std::size_t object_size(const FileInfo& info) {
    const Sizes s = sizes(info.level);
    return info.kind == ObjectKind::public_key ? s.public_key : info.kind == ObjectKind::secret_key ? s.secret_key : s.signature;
}

std::string label(const FileInfo& info) {
    static const char* const kinds[] = {"PUBLIC KEY", "SECRET KEY", "SIGNATURE"};
    return std::string(kinds[static_cast<int>(info.kind)]) + " " + level_name(info.level);
}

std::vector<std::uint8_t> decoded(const Text& text) {
    const auto parsed = cli::parse_armor(text);
    if (const auto* error = std::get_if<std::string>(&parsed)) {
        ADD_FAILURE() << *error;
        return {};
    }
    std::vector<std::uint8_t> out(std::get<cli::Armored>(parsed).size);
    cli::decode_armor(std::get<cli::Armored>(parsed), out);
    return out;
}

// Every object of every level: the exact text (lines of 64 characters of the
// reference encoding between the two lines), and back; the same text
// re-wrapped at 76 characters with CRLF and blank space around it reads the same.
TEST(Armor, EveryObjectRoundTripsThroughTheExactText) {
    unsigned seed = 1;
    for (const Level level : cli::kAllLevels)
        for (const ObjectKind kind : {ObjectKind::public_key, ObjectKind::secret_key, ObjectKind::signature}) {
            const FileInfo info{kind, level};
            SCOPED_TRACE(label(info));
            const std::vector<std::uint8_t> bytes = random_bytes(object_size(info), seed++);
            const std::string body = reference_base64(bytes);
            std::string want = "-----BEGIN RINGTRAP " + label(info) + "-----\n";
            for (std::size_t i = 0; i < body.size(); i += 64) want += body.substr(i, 64) + "\n";
            want += "-----END RINGTRAP " + label(info) + "-----\n";

            Text text(cli::armored_size(info, bytes.size()));
            cli::encode_armor(info, bytes, text);
            ASSERT_EQ(std::string(text.begin(), text.end()), want);
            EXPECT_TRUE(cli::looks_armored(text));
            const auto parsed = cli::parse_armor(text);
            ASSERT_TRUE(std::holds_alternative<cli::Armored>(parsed));
            EXPECT_EQ(std::get<cli::Armored>(parsed).info.kind, kind);
            EXPECT_EQ(std::get<cli::Armored>(parsed).info.level, level);
            EXPECT_EQ(decoded(text), bytes);

            std::string wrapped = "\r\n  -----BEGIN RINGTRAP " + label(info) + "-----  \r\n";
            for (std::size_t i = 0; i < body.size(); i += 76) wrapped += body.substr(i, 76) + " \r\n";
            wrapped += "\r\n-----END RINGTRAP " + label(info) + "-----\r\n\n";
            EXPECT_EQ(decoded(to_text(wrapped)), bytes);
            EXPECT_LE(wrapped.size(), cli::largest_file_size());
        }
    EXPECT_FALSE(cli::looks_armored(random_bytes(100, 3)));
}

// Edits of a valid armoured S256 signature: its size leaves one '=' of padding,
// so the padding cases have something to work on.
struct ArmorCase {
    std::string name;
    std::string (*edit)(std::string text);
    std::string expected;  // part of the message
};

void PrintTo(const ArmorCase& c, std::ostream* os) { *os << c.name; }

class ArmorErrors : public ::testing::TestWithParam<ArmorCase> {};

TEST_P(ArmorErrors, NamesTheProblem) {
    const FileInfo info{ObjectKind::signature, Level::S256};
    ASSERT_EQ(object_size(info) % 3, 2u) << "the padding cases need a size that leaves one '='";
    Text text(cli::armored_size(info, object_size(info)));
    cli::encode_armor(info, random_bytes(object_size(info), 9), text);
    const std::string edited = GetParam().edit(std::string(text.begin(), text.end()));
    const auto parsed = cli::parse_armor(to_text(edited));
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
    const std::string& message = std::get<std::string>(parsed);
    EXPECT_NE(message.find(GetParam().expected), std::string::npos) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
}

std::string replace_first(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

// The body's last line, the one the padding is on.
std::size_t last_body_line(const std::string& text) { return text.rfind('\n', text.rfind("-----END") - 2) + 1; }

std::string signature_bytes(Level level) { return std::to_string(sizes(level).signature); }

INSTANTIATE_TEST_SUITE_P(
    Cases, ArmorErrors,
    ::testing::Values(
        ArmorCase{"OtherBlock", [](std::string text) { return replace_first(text, "RINGTRAP SIGNATURE S256-----\n", "CERTIFICATE-----\n"); },
                  "line 1: the begin line '-----BEGIN CERTIFICATE-----' is not that of a ringtrap"},
        ArmorCase{"UnknownObject", [](std::string text) { return replace_first(text, "SIGNATURE", "PRIVATE KEY"); },
                  "names 'PRIVATE KEY', which is not"},
        ArmorCase{"UnknownLevel", [](std::string text) { return replace_first(text, "S256", "S192"); },
                  "names level 'S192', which is not"},
        ArmorCase{"OtherLevelsLength", [](std::string text) { return replace_first(replace_first(text, "S256", "S128"), "S256", "S128"); },
                  "armoured SIGNATURE S128 holds " + signature_bytes(Level::S256) + " bytes; a signature of level S128 has " +
                      signature_bytes(Level::S128)},
        ArmorCase{"EndOfAnotherObject", [](std::string text) { return replace_first(text, "END RINGTRAP SIGNATURE", "END RINGTRAP PUBLIC KEY"); },
                  "the end line '-----END RINGTRAP PUBLIC KEY S256-----' does not match"},
        ArmorCase{"NoEndLine", [](std::string text) { return text.substr(0, text.find("-----END")); }, "no end line"},
        ArmorCase{"TextAfterTheEnd", [](std::string text) { return text + "\nsigned by me\n"; }, "text after the end line"},
        ArmorCase{"NotBase64", [](std::string text) { return text.replace(100, 1, "\xc3\xa9"); }, "line 2: the byte '\\xc3' is not base64"},
        ArmorCase{"DataAfterPadding", [](std::string text) { return replace_first(text, "=\n", "=AA\n"); },
                  "base64 continues after '=' padding"},
        ArmorCase{"CutShort", [](std::string text) { return text.erase(200, 1); }, "cut short or badly padded"},
        ArmorCase{"PaddingBitsSet",
                  [](std::string text) {
                      // With one '=', the character before it carries 4 data bits and 2 zero
                      // bits (a multiple of 4: A, E, ..., 8); the next character sets the lowest.
                      ++text[text.find("=\n") - 1];
                      return text;
                  },
                  "not in canonical form"},
        ArmorCase{"LineMissing", [](std::string text) { return text.erase(last_body_line(text) - 65, 65); },
                  "holds " + std::to_string(sizes(Level::S256).signature - 48) + " bytes; a signature of level S256 has " +
                      signature_bytes(Level::S256)}),
    [](const auto& param_info) { return param_info.param.name; });

class CliRoundTrip : public testing::PerLevel {
protected:
    Level level() const { return static_cast<Level>(P().level); }
    std::string level_arg() const { return std::to_string(P().level); }

    void keygen(const std::string& pk, const std::string& sk) {
        const RunResult r = ws.run({"keygen", "--level", level_arg(), "--public-key", ws.path(pk), "--secret-key", ws.path(sk)});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
    }

    Workspace ws;
};

TEST_P(CliRoundTrip, KeygenSignVerifyInfoOnFiles) {
    ASSERT_NO_FATAL_FAILURE(keygen("a.pk", "a.sk"));
    const Sizes sz = sizes(level());
    EXPECT_EQ(read_bytes(ws.path("a.pk")).size(), sz.public_key);
    EXPECT_EQ(read_bytes(ws.path("a.sk")).size(), sz.secret_key);
    EXPECT_EQ(file_mode(ws.path("a.sk")), 0600 & ~current_umask());
    EXPECT_EQ(file_mode(ws.path("a.pk")), 0644 & ~current_umask());

    write_bytes(ws.path("msg"), random_bytes(1000, 7));
    RunResult r = ws.run({"sign", "--secret-key", ws.path("a.sk"), "--public-key", ws.path("a.pk"), "--in",
                          ws.path("msg"), "--out", ws.path("msg.sig")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_bytes(ws.path("msg.sig")).size(), sz.signature);
    EXPECT_EQ(file_mode(ws.path("msg.sig")), 0644 & ~current_umask());

    r = ws.run({"verify", "--public-key", ws.path("a.pk"), "--signature", ws.path("msg.sig"), "--in", ws.path("msg")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "valid\n");
    EXPECT_EQ(r.out, "");

    const std::string lvl = ", level " + level_arg() + "\n";
    for (const auto& [file, kind] : {std::pair<std::string, std::string>{"a.pk", "public key"},
                                     {"a.sk", "secret key"}, {"msg.sig", "signature"}}) {
        r = ws.run({"info", ws.path(file)});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, kind + lvl);
    }
    // Nothing but the four files: no temporary file left behind.
    EXPECT_EQ(ws.files(), (std::set<std::string>{"a.pk", "a.sk", "msg", "msg.sig"}));
}

TEST_P(CliRoundTrip, TamperedMessageOrSignatureIsInvalid) {
    ASSERT_NO_FATAL_FAILURE(keygen("a.pk", "a.sk"));
    ByteVec message = random_bytes(300, 11);
    write_bytes(ws.path("msg"), message);
    RunResult r = ws.run({"sign", "--secret-key", ws.path("a.sk"), "--public-key", ws.path("a.pk"), "--in",
                          ws.path("msg"), "--out", ws.path("sig")});
    ASSERT_EQ(r.status, 0) << r.err;

    message[150] ^= 0x01;
    write_bytes(ws.path("msg2"), message);
    r = ws.run({"verify", "--public-key", ws.path("a.pk"), "--signature", ws.path("sig"), "--in", ws.path("msg2")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "invalid\n");
    EXPECT_EQ(r.out, "");

    // Negate a nonzero coefficient of the first signature entry (sign bit of
    // its fourth byte): A_0 = 1, so the product moves by twice the coefficient.
    ByteVec sig = read_bytes(ws.path("sig"));
    std::size_t j = 0;
    while (j < static_cast<std::size_t>(P().n) && sig[4 * j] == 0 && sig[4 * j + 1] == 0 && sig[4 * j + 2] == 0 &&
           (sig[4 * j + 3] & 0x7f) == 0)
        ++j;
    ASSERT_LT(j, static_cast<std::size_t>(P().n));
    sig[4 * j + 3] ^= 0x80;
    write_bytes(ws.path("sig2"), sig);
    r = ws.run({"verify", "--public-key", ws.path("a.pk"), "--signature", ws.path("sig2"), "--in", ws.path("msg")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "invalid\n");
}

TEST_P(CliRoundTrip, StandardInputAndOutputCarryAnyMessage) {
    ASSERT_NO_FATAL_FAILURE(keygen("a.pk", "a.sk"));
    // Larger than a pipe's buffer, binary, through a pipe; signature to stdout.
    const ByteVec message = random_bytes(200000, 3);
    write_bytes(ws.path("msg"), message);
    Io io;
    io.stdin_pipe = message;
    io.stdout_path = ws.path("piped.sig");
    RunResult r = ws.run({"sign", "--secret-key", ws.path("a.sk"), "--public-key", ws.path("a.pk")}, io);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_bytes(ws.path("piped.sig")).size(), sizes(level()).signature);

    // Message on standard input as a file, "--in -" spelled out.
    Io from_file;
    from_file.stdin_path = ws.path("msg");
    r = ws.run({"verify", "--public-key", ws.path("a.pk"), "--signature", ws.path("piped.sig"), "--in", "-"}, from_file);
    EXPECT_EQ(r.status, 0) << r.err;

    // The signature on standard input instead, "--out -" spelled out.
    Io sig_in;
    sig_in.stdin_path = ws.path("piped.sig");
    r = ws.run({"verify", "--public-key", ws.path("a.pk"), "--signature", "-", "--in", ws.path("msg")}, sig_in);
    EXPECT_EQ(r.status, 0) << r.err;

    // The empty message.
    r = ws.run({"sign", "--secret-key", ws.path("a.sk"), "--public-key", ws.path("a.pk"), "--out", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    write_bytes(ws.path("empty.sig"), ByteVec(r.out.begin(), r.out.end()));
    r = ws.run({"verify", "--public-key", ws.path("a.pk"), "--signature", ws.path("empty.sig")});
    EXPECT_EQ(r.status, 0) << r.err;
    r = ws.run({"verify", "--public-key", ws.path("a.pk"), "--signature", ws.path("empty.sig"), "--in", ws.path("msg")});
    EXPECT_EQ(r.status, 1);

    // info reads standard input too.
    r = ws.run({"info", "-"}, sig_in);
    EXPECT_EQ(r.out, "signature, level " + level_arg() + "\n");
}

TEST_P(CliRoundTrip, KeyPairsThatDoNotBelongTogetherAreRejected) {
    ASSERT_NO_FATAL_FAILURE(keygen("a.pk", "a.sk"));
    ASSERT_NO_FATAL_FAILURE(keygen("b.pk", "b.sk"));
    write_bytes(ws.path("msg"), random_bytes(10, 1));
    const auto before = ws.files();
    RunResult r = ws.run({"sign", "--secret-key", ws.path("a.sk"), "--public-key", ws.path("b.pk"), "--in",
                          ws.path("msg"), "--out", ws.path("sig")});
    expect_error(r, {ws.path("a.sk"), "does not belong to public key", ws.path("b.pk")});
    EXPECT_EQ(ws.files(), before);

    // Keys given the wrong way round: named by size, with a hint.
    r = ws.run({"sign", "--secret-key", ws.path("a.pk"), "--public-key", ws.path("a.sk"), "--in", ws.path("msg")});
    expect_error(r, {ws.path("a.pk"), "is not the size of a secret key", "looks like a public key, level " + level_arg()});

    // A signature where the public key belongs.
    r = ws.run({"sign", "--secret-key", ws.path("a.sk"), "--public-key", ws.path("a.pk"), "--in", ws.path("msg"),
                "--out", ws.path("sig")});
    ASSERT_EQ(r.status, 0) << r.err;
    r = ws.run({"verify", "--public-key", ws.path("sig"), "--signature", ws.path("sig"), "--in", ws.path("msg")});
    expect_error(r, {ws.path("sig"), "not a valid public key", "looks like a signature"});
}

INSTANTIATE_TEST_SUITE_P(Levels, CliRoundTrip, ::testing::ValuesIn(testing::kAllParamSets), testing::param_name);

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        const RunResult r = ws.run({"keygen", "--public-key", ws.path("a.pk"), "--secret-key", ws.path("a.sk")});
        ASSERT_EQ(r.status, 0) << r.err;
        write_bytes(ws.path("msg"), random_bytes(64, 5));
    }
    RunResult sign_to(const std::string& out) const {
        return ws.run({"sign", "--secret-key", ws.path("a.sk"), "--public-key", ws.path("a.pk"), "--in",
                       ws.path("msg"), "--out", out});
    }
    Workspace ws;
};

TEST_F(Cli, NoArgumentsRunsTheDemonstration) {
    const RunResult r = ws.run({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1");
}

TEST_F(Cli, HelpAndVersion) {
    RunResult r = ws.run({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* word : {"ringtrap keygen ", "ringtrap sign ", "ringtrap verify ", "ringtrap info ", "into memory"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    r = ws.run({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("ringtrap ") + version() + "\n");
}

TEST_F(Cli, UsageErrorsExitTwoAndCreateNothing) {
    const auto before = ws.files();
    expect_error(ws.run({"sign", "--secret-key", ws.path("a.sk"), "--public-key", ws.path("a.pk"), "--bogus"}),
                 {"unknown option '--bogus'"});
    expect_error(ws.run({"verify", "--signature", ws.path("x")}), {"needs --public-key"});
    expect_error(ws.run({"keygen", "--public-key", ws.path("n.pk"), "--secret-key", ws.path("n.pk")}), {"same file"});
    expect_error(ws.run({"keygen", "--level", "512", "--public-key", ws.path("n.pk"), "--secret-key", ws.path("n.sk")}),
                 {"128 or 256"});
    expect_error(sign_to(ws.path("msg")), {"also the input --in"});
    EXPECT_EQ(ws.files(), before);
    EXPECT_EQ(read_bytes(ws.path("msg")).size(), 64u);
}

TEST_F(Cli, UnreadableOrMisSizedInputsNameTheFile) {
    const std::string missing = ws.path("missing.pk");
    expect_error(ws.run({"verify", "--public-key", missing, "--signature", ws.path("a.pk"), "--in", ws.path("msg")}),
                 {missing, "cannot open", "No such file"});
    fs::create_directory(ws.path("dir"));
    expect_error(ws.run({"sign", "--secret-key", ws.path("dir"), "--public-key", ws.path("a.pk")}),
                 {ws.path("dir"), "cannot read"});

    write_bytes(ws.path("short.sk"), ByteVec(1000, 0));
    ::chmod(ws.path("short.sk").c_str(), 0600);  // keys made by hand are private too
    expect_error(ws.run({"sign", "--secret-key", ws.path("short.sk"), "--public-key", ws.path("a.pk")}),
                 {ws.path("short.sk"), "has 1000 bytes, which is not the size of a secret key"});
    ByteVec sig = read_bytes(ws.path("a.pk"));
    sig.pop_back();
    write_bytes(ws.path("short.sig"), sig);
    expect_error(ws.run({"verify", "--public-key", ws.path("a.pk"), "--signature", ws.path("short.sig")}),
                 {ws.path("short.sig"), "has " + std::to_string(sig.size()) + " bytes, which is not the size of a signature"});
    expect_error(ws.run({"info", ws.path("short.sig")}), {ws.path("short.sig"), "matches no key or signature"});
    // Far too large: not read in full, still named.
    write_bytes(ws.path("big"), ByteVec(600000, 1));
    expect_error(ws.run({"info", ws.path("big")}),
                 {ws.path("big"), "has more than " + std::to_string(cli::largest_object_size()) + " bytes"});
}

// The key-independent levels through the tool: keygen by name, sign, verify,
// info, and a flipped signature byte is an invalid signature (exit 1).
TEST_F(Cli, KeyIndependentLevelsRoundTrip) {
    for (const std::string name : {"s128", "S256"}) {
        const std::string pk = ws.path(name + ".pk"), sk = ws.path(name + ".sk"), sig = ws.path(name + ".sig");
        ASSERT_EQ(ws.run({"keygen", "--level", name, "--public-key", pk, "--secret-key", sk}).status, 0);
        RunResult r = ws.run({"sign", "--secret-key", sk, "--public-key", pk, "--in", ws.path("msg"), "--out", sig});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string level = std::string(", level S") + name.substr(1) + "\n";
        EXPECT_EQ(ws.run({"info", pk}).out, "public key" + level);
        EXPECT_EQ(ws.run({"info", sk}).out, "secret key" + level);
        EXPECT_EQ(ws.run({"info", sig}).out, "signature" + level);
        r = ws.run({"verify", "--public-key", pk, "--signature", sig, "--in", ws.path("msg")});
        EXPECT_EQ(r.status, 0) << r.err;
        ByteVec bytes = read_bytes(sig);
        bytes[bytes.size() / 3] ^= 0x10;
        write_bytes(sig, bytes);
        r = ws.run({"verify", "--public-key", pk, "--signature", sig, "--in", ws.path("msg")});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "invalid\n");
    }
}

TEST_F(Cli, ObjectsOfDifferentLevelsAreRejected) {
    ASSERT_EQ(ws.run({"keygen", "--level", "256", "--public-key", ws.path("b.pk"), "--secret-key", ws.path("b.sk")}).status, 0);
    expect_error(ws.run({"sign", "--secret-key", ws.path("a.sk"), "--public-key", ws.path("b.pk"), "--in", ws.path("msg")}),
                 {ws.path("a.sk"), "secret key is level S128 but public key", ws.path("b.pk"), "level 256"});
    ASSERT_EQ(sign_to(ws.path("a.sig")).status, 0);
    expect_error(ws.run({"verify", "--public-key", ws.path("b.pk"), "--signature", ws.path("a.sig"), "--in", ws.path("msg")}),
                 {ws.path("a.sig"), "signature is level S128 but public key", "level 256"});
}

TEST_F(Cli, KeygenKeepsExistingFilesUnlessForced) {
    const ByteVec old_pk = read_bytes(ws.path("a.pk"));
    const ByteVec old_sk = read_bytes(ws.path("a.sk"));
    // Only one of the two exists: neither may be written.
    const std::string fresh = ws.path("fresh.sk");
    expect_error(ws.run({"keygen", "--public-key", ws.path("a.pk"), "--secret-key", fresh}),
                 {ws.path("a.pk"), "already exists", "--force"});
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_EQ(read_bytes(ws.path("a.pk")), old_pk);

    // --force replaces both; the secret key gets its own mode even over a
    // readable old file.
    ::chmod(ws.path("a.sk").c_str(), 0644);
    const RunResult r = ws.run({"keygen", "--force", "--level", "256", "--public-key", ws.path("a.pk"), "--secret-key",
                                ws.path("a.sk")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_bytes(ws.path("a.pk")).size(), sizes(Level::L256).public_key);
    EXPECT_EQ(read_bytes(ws.path("a.sk")).size(), sizes(Level::L256).secret_key);
    EXPECT_NE(read_bytes(ws.path("a.sk")), old_sk);
    EXPECT_EQ(file_mode(ws.path("a.sk")), 0600 & ~current_umask());
    EXPECT_EQ(ws.files(), (std::set<std::string>{"a.pk", "a.sk", "msg"}));
}

TEST_F(Cli, WriteFailuresLeaveNoFileBehind) {
    const auto before = ws.files();
    // The secret key's folder does not exist: the public key must not appear either.
    expect_error(ws.run({"keygen", "--public-key", ws.path("n.pk"), "--secret-key", ws.path("nowhere/n.sk")}),
                 {ws.path("nowhere/n.sk"), "cannot write"});
    expect_error(ws.run({"keygen", "--public-key", ws.path("nowhere/n.pk"), "--secret-key", ws.path("n.sk")}),
                 {ws.path("nowhere/n.pk"), "cannot write"});
    expect_error(sign_to(ws.path("nowhere/sig")), {ws.path("nowhere/sig"), "cannot write"});
    fs::create_directory(ws.path("dir"));
    expect_error(sign_to(ws.path("dir")), {ws.path("dir"), "directory"});
    fs::remove(ws.path("dir"));
    EXPECT_EQ(ws.files(), before);

    // A full device on standard output.
    Io full;
    full.stdout_path = "/dev/full";
    const RunResult r = ws.run({"sign", "--secret-key", ws.path("a.sk"), "--public-key", ws.path("a.pk"), "--in",
                                ws.path("msg")}, full);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("ringtrap: standard output: write failed"), std::string::npos) << r.err;
}

// Output names are replaced, never written through: a planted symbolic link
// is replaced itself and its target left alone; anything but a regular file
// or a link is refused; "the same file as an input" is decided by device and
// inode, not by how the name is spelt.
TEST_F(Cli, OutputFilesAreReplacedNotWrittenThrough) {
    const ByteVec victim(10, 9);
    write_bytes(ws.path("victim"), victim);
    fs::create_symlink(ws.path("victim"), ws.path("link.sig"));
    ASSERT_EQ(sign_to(ws.path("link.sig")).status, 0);
    EXPECT_FALSE(fs::is_symlink(ws.path("link.sig")));
    EXPECT_EQ(read_bytes(ws.path("link.sig")).size(), sizes(Level::S128).signature);
    EXPECT_EQ(read_bytes(ws.path("victim")), victim);

    fs::create_symlink(ws.path("victim"), ws.path("link.pk"));
    ASSERT_EQ(ws.run({"keygen", "--force", "--public-key", ws.path("link.pk"), "--secret-key", ws.path("b.sk")}).status, 0);
    EXPECT_FALSE(fs::is_symlink(ws.path("link.pk")));
    EXPECT_EQ(read_bytes(ws.path("victim")), victim);

    // A link to the message is replaced like any other; the message stays.
    fs::create_symlink(ws.path("msg"), ws.path("msg.link"));
    ASSERT_EQ(sign_to(ws.path("msg.link")).status, 0);
    EXPECT_EQ(read_bytes(ws.path("msg")).size(), 64u);

    // The message under another spelling (through a linked folder) or under a
    // second hard link is still the message.
    fs::create_directory_symlink(ws.path(""), ws.path("again"));
    expect_error(sign_to(ws.path("again/msg")), {"is also the input"});
    fs::create_hard_link(ws.path("msg"), ws.path("msg.hard"));
    expect_error(sign_to(ws.path("msg.hard")), {"is also the input"});
    expect_error(ws.run({"keygen", "--force", "--public-key", ws.path("again/k"), "--secret-key", ws.path("k")}),
                 {"same file"});

    ASSERT_EQ(::mkfifo(ws.path("fifo").c_str(), 0600), 0);
    expect_error(sign_to(ws.path("fifo")), {ws.path("fifo"), "not a regular file"});
    EXPECT_EQ(read_bytes(ws.path("msg")).size(), 64u);
}

// A secret key others can read still signs, with one warning line naming the
// file and its mode; with deterministic draws the tool makes no keys at all.
TEST_F(Cli, SecretKeyModeAndDeterministicDraws) {
    ASSERT_EQ(::chmod(ws.path("a.sk").c_str(), 0640), 0);
    const RunResult r = sign_to(ws.path("a.sig"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    for (const std::string& f : {std::string("warning"), ws.path("a.sk"), std::string("0640")})
        EXPECT_NE(r.err.find(f), std::string::npos) << r.err;
    ASSERT_EQ(::chmod(ws.path("a.sk").c_str(), 0600), 0);
    EXPECT_EQ(sign_to(ws.path("a.sig")).err, "");

    const std::vector<std::string> args{"keygen", "--public-key", ws.path("d.pk"), "--secret-key", ws.path("d.sk")};
    use_deterministic_draws_for_known_answers(1);
    ::testing::internal::CaptureStderr();
    const int status = cli::run_tool(args);
    const std::string err = ::testing::internal::GetCapturedStderr();
    use_os_entropy();
    EXPECT_EQ(status, 2);
    EXPECT_NE(err.find("deterministic"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(ws.path("d.pk")) || fs::exists(ws.path("d.sk")));
    EXPECT_EQ(cli::run_tool(args), 0);
}

// Armoured keys and signatures through the tool: written with --armor (the
// secret key still 0600), read by every command, mixed freely with binary
// files; a file of the wrong kind, broken text, or a label its content
// contradicts is an error (exit 2), an altered but well-formed body an invalid
// signature (exit 1).
TEST_F(Cli, ArmouredFilesAreWrittenAndReadByEveryCommand) {
    const std::string pk = ws.path("c.pk"), sk = ws.path("c.sk"), sig = ws.path("c.sig"), msg = ws.path("msg");
    ASSERT_EQ(ws.run({"keygen", "--armor", "--public-key", pk, "--secret-key", sk}).status, 0);
    EXPECT_EQ(read_text(sk).rfind("-----BEGIN RINGTRAP SECRET KEY S128-----\n", 0), 0u);
    EXPECT_EQ(file_mode(sk), 0600 & ~current_umask());
    RunResult r = ws.run({"sign", "--armor", "--secret-key", sk, "--public-key", pk, "--in", msg});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("-----BEGIN RINGTRAP SIGNATURE S128-----\n", 0), 0u);
    write_bytes(sig, to_text(r.out));
    EXPECT_EQ(ws.run({"verify", "--public-key", pk, "--signature", sig, "--in", msg}).status, 0);
    EXPECT_EQ(ws.run({"info", pk}).out, "public key, level S128 (armoured)\n");
    EXPECT_EQ(ws.run({"info", sig}).out, "signature, level S128 (armoured)\n");
    // Binary keys, armoured signature; and an armoured signature through standard input.
    ASSERT_EQ(ws.run({"sign", "--armor", "--secret-key", ws.path("a.sk"), "--public-key", ws.path("a.pk"), "--in", msg,
                      "--out", ws.path("a.sig")}).status, 0);
    Io from_file;
    from_file.stdin_path = ws.path("a.sig");
    EXPECT_EQ(ws.run({"verify", "--public-key", ws.path("a.pk"), "--signature", "-", "--in", msg}, from_file).status, 0);

    expect_error(ws.run({"verify", "--public-key", sk, "--signature", sig, "--in", msg}),
                 {sk, "holds an armoured secret key, level S128, not a public key"});
    std::string text = read_text(sig);
    const char original = text[text.find('\n') + 10];
    text[text.find('\n') + 10] = '#';
    write_bytes(ws.path("bad.sig"), to_text(text));
    expect_error(ws.run({"verify", "--public-key", pk, "--signature", ws.path("bad.sig"), "--in", msg}),
                 {ws.path("bad.sig"), "line 2: the byte '#' is not base64"});
    text[text.find('\n') + 10] = original == 'A' ? 'B' : 'A';  // another byte of the salt
    write_bytes(ws.path("bad.sig"), to_text(text));
    r = ws.run({"verify", "--public-key", pk, "--signature", ws.path("bad.sig"), "--in", msg});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "invalid\n");

    // Levels 128 and 256: a signature labelled as a public key is caught by its content.
    ASSERT_EQ(ws.run({"keygen", "--level", "128", "--public-key", ws.path("b.pk"), "--secret-key", ws.path("b.sk")}).status, 0);
    ASSERT_EQ(ws.run({"sign", "--secret-key", ws.path("b.sk"), "--public-key", ws.path("b.pk"), "--in", msg, "--out",
                      ws.path("b.sig")}).status, 0);
    const ByteVec b_sig = read_bytes(ws.path("b.sig"));
    const cli::FileInfo wrong{ObjectKind::public_key, Level::L128};
    Text fake(cli::armored_size(wrong, b_sig.size()));
    cli::encode_armor(wrong, b_sig, fake);
    write_bytes(ws.path("fake.pk"), fake);
    expect_error(ws.run({"verify", "--public-key", ws.path("fake.pk"), "--signature", ws.path("b.sig"), "--in", msg}),
                 {ws.path("fake.pk"), "is labelled public key, level 128 but holds a signature, level 128"});
}

// Batches: several files signed with two workers into FILE.sig (armoured when
// asked), checked back in the order given; a file that cannot be read fails
// alone; no temporary file is left behind.
TEST_F(Cli, BatchSignsAndVerifiesManyFilesInOrder) {
    fs::create_directory(ws.path("sub"));
    const std::vector<std::string> names{"m0", "sub/m1", "m2", "m3", "m4"};
    std::vector<std::string> files;
    for (std::size_t i = 0; i < names.size(); ++i) {
        files.push_back(ws.path(names[i]));
        write_bytes(files.back(), random_bytes(i * 700, static_cast<unsigned>(20 + i)));  // m0 is empty
    }
    std::vector<std::string> args{"sign", "--batch", "--jobs", "2", "--armor", "--secret-key", ws.path("a.sk"),
                                  "--public-key", ws.path("a.pk")};
    args.insert(args.end(), files.begin(), files.end());
    args.push_back(ws.path("missing"));
    RunResult r = ws.run(args);
    expect_error(r, {ws.path("missing"), "cannot open"});
    for (const std::string& file : files)
        EXPECT_EQ(read_text(file + ".sig").rfind("-----BEGIN RINGTRAP SIGNATURE S128-----\n", 0), 0u) << file;
    EXPECT_EQ(ws.files(), (std::set<std::string>{"a.pk", "a.sk", "msg", "sub", "m0", "m0.sig", "m2", "m2.sig", "m3",
                                                 "m3.sig", "m4", "m4.sig"}));
    EXPECT_TRUE(fs::exists(ws.path("sub/m1.sig")));

    // The single form reads what the batch wrote.
    r = ws.run({"verify", "--public-key", ws.path("a.pk"), "--signature", files[2] + ".sig", "--in", files[2]});
    EXPECT_EQ(r.status, 0) << r.err;

    args = {"verify", "--batch", "--jobs=2", "--public-key", ws.path("a.pk")};
    args.insert(args.end(), files.rbegin(), files.rend());
    r = ws.run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::string want;
    for (auto it = files.rbegin(); it != files.rend(); ++it) want += *it + ": valid\n";
    EXPECT_EQ(r.out, want);
}

// One line per file in the order given, whatever the outcome; the exit status
// is the worst: 1 for an invalid signature, 2 when one could not be checked.
TEST_F(Cli, BatchVerifyReportsEachFile) {
    std::vector<std::string> files;
    for (int i = 0; i < 4; ++i) {
        files.push_back(ws.path("m" + std::to_string(i)));
        write_bytes(files.back(), random_bytes(100, static_cast<unsigned>(40 + i)));
    }
    std::vector<std::string> args{"sign", "--batch", "--secret-key", ws.path("a.sk"), "--public-key", ws.path("a.pk")};
    args.insert(args.end(), files.begin(), files.end());
    RunResult r = ws.run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");

    write_bytes(files[1], random_bytes(100, 99));
    fs::remove(files[2] + ".sig");
    args = {"verify", "--batch", "--jobs", "2", "--public-key", ws.path("a.pk")};
    args.insert(args.end(), files.begin(), files.end());
    r = ws.run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, files[0] + ": valid\n" + files[1] + ": invalid\n" + files[2] + ": error\n" + files[3] + ": valid\n");
    EXPECT_EQ(r.err.rfind("ringtrap: " + files[2] + ".sig: cannot open", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;

    args.erase(args.begin() + 8);  // without the file that has no signature
    r = ws.run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, files[0] + ": valid\n" + files[1] + ": invalid\n" + files[3] + ": valid\n");
}

// Many more files than workers: every line still in the order given, the
// invalid ones where they belong.
TEST_F(Cli, BatchVerifyKeepsTheOrderOverManyFiles) {
    std::vector<std::string> files;
    for (int i = 0; i < 40; ++i) {
        files.push_back(ws.path("f"));
        files.back() += std::to_string(i);  // not "f" + ...: GCC 12's -Wrestrict misfires on it at -O3
        write_bytes(files.back(), random_bytes(static_cast<std::size_t>(i * 37), static_cast<unsigned>(100 + i)));
    }
    std::vector<std::string> args{"sign", "--batch", "--jobs", "2", "--secret-key", ws.path("a.sk"), "--public-key",
                                  ws.path("a.pk")};
    args.insert(args.end(), files.begin(), files.end());
    ASSERT_EQ(ws.run(args).status, 0);
    std::string want;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i % 7 == 3) write_bytes(files[i], random_bytes(5, static_cast<unsigned>(i)));
        want += files[i] + (i % 7 == 3 ? ": invalid\n" : ": valid\n");
    }
    args = {"verify", "--batch", "--jobs", "2", "--public-key", ws.path("a.pk")};
    args.insert(args.end(), files.begin(), files.end());
    const RunResult r = ws.run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, want);
}

// Two FILEs whose signatures would be one file, or a signature that would
// replace an input, found through a linked folder that the spelling hides:
// refused before any key is read or file written.
TEST_F(Cli, BatchOutputCollisionsStopBeforeAnyWork) {
    fs::create_directory_symlink(ws.path(""), ws.path("again"));
    write_bytes(ws.path("m.sig"), random_bytes(10, 1));
    const auto before = ws.files();
    const std::vector<std::string> keys{"--secret-key", ws.path("a.sk"), "--public-key", ws.path("a.pk")};
    std::vector<std::string> args{"sign", "--batch", "--jobs", "2"};
    args.insert(args.end(), keys.begin(), keys.end());
    args.insert(args.end(), {ws.path("msg"), ws.path("again/msg")});
    expect_error(ws.run(args), {ws.path("msg"), ws.path("again/msg"), "both sign into"});

    args.resize(8);
    args.insert(args.end(), {ws.path("m"), ws.path("again/m.sig")});
    expect_error(ws.run(args), {ws.path("m.sig"), "would replace the input", ws.path("again/m.sig")});
    EXPECT_EQ(ws.files(), before);
    EXPECT_EQ(read_bytes(ws.path("m.sig")), random_bytes(10, 1));
}

}  // namespace
}  // namespace ringtrap
