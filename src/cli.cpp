#include "cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "ringtrap.h"
#include "tool_args.h"

namespace ringtrap::cli {
namespace {

constexpr int kExitValid = 0;
constexpr int kExitInvalid = 1;
constexpr int kExitError = 2;

// An input, output or key problem; the message names the file.
class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string shown(const std::string& path) { return path == "-" ? "standard input" : path; }

std::string level_text(Level level) { return std::string("level ") + level_name(level); }

[[noreturn]] void fail_errno(const std::string& what, const char* action, int err) {
    throw ToolError(what + ": " + action + ": " + std::strerror(err));
}

// Control characters (say, in a file name) would break a line of output, so
// they are shown as '?'.
std::string one_line(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return text;
}

// One line on standard error.
void report_error(const std::string& message) { std::fprintf(stderr, "ringtrap: %s\n", one_line(message).c_str()); }

// Signing still works: the warning is for the owner, who may not know.
void warn_readable_secret_key(const std::string& path, mode_t mode) {
    char octal[16];  // room for any unsigned value, which the compiler cannot rule out
    std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode & 07777));
    report_error("warning: " + shown(path) + ": secret key is readable by group or others (mode " + octal +
                 "); chmod 600 it");
}

// ---- Reading ---------------------------------------------------------------

// Reads a whole input ("-" is standard input), but never more than limit + 1
// bytes, so that an oversized file is recognised without loading all of it.
// *mode receives the permission bits of a regular file (else 0).
template <class Buffer>
Buffer read_input(const std::string& path, std::size_t limit, mode_t* mode = nullptr) {
    int fd = STDIN_FILENO;
    if (path != "-") {
        do fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        while (fd < 0 && errno == EINTR);
        if (fd < 0) fail_errno(path, "cannot open", errno);
    }
    struct FdCloser {
        int fd;
        ~FdCloser() {
            if (fd != STDIN_FILENO) ::close(fd);
        }
    } closer{fd};

    const std::size_t cap = limit == SIZE_MAX ? limit : limit + 1;
    Buffer bytes;
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (mode != nullptr) *mode = regular ? (st.st_mode & 07777) : 0;
    if (regular && st.st_size > 0)
        bytes.reserve(std::min<std::size_t>(static_cast<std::size_t>(st.st_size) + 1, cap));

    std::size_t used = 0;
    while (used < cap) {
        if (bytes.size() == used) bytes.resize(std::min(cap, std::max({std::size_t{65536}, 2 * used, bytes.capacity()})));
        const ssize_t got = ::read(fd, bytes.data() + used, bytes.size() - used);
        if (got < 0) {
            if (errno == EINTR) continue;
            fail_errno(shown(path), "cannot read", errno);
        }
        if (got == 0) break;
        used += static_cast<std::size_t>(got);
    }
    bytes.resize(used);
    return bytes;
}

// A key or signature file in either form: armoured text is checked and decoded
// (into a Buffer of its own, so a secret key stays in wiped memory), binary
// content is returned as it is for the caller's checks. `expected` is the kind
// the file must hold (any kind when empty); *armored tells which form it was.
template <class Buffer>
Buffer read_object(const std::string& path, std::optional<ObjectKind> expected, mode_t* mode = nullptr,
                   bool* armored = nullptr) {
    Buffer content = read_input<Buffer>(path, largest_file_size(), mode);
    if (armored != nullptr) *armored = false;
    if (!looks_armored(content)) return content;
    if (content.size() > largest_file_size())
        throw ToolError(shown(path) + ": armoured text of more than " + std::to_string(largest_file_size()) +
                        " bytes, larger than any key or signature");
    const auto parsed = parse_armor(content);
    if (const auto* error = std::get_if<std::string>(&parsed)) throw ToolError(shown(path) + ": " + *error);
    const Armored& armor = std::get<Armored>(parsed);
    if (expected && armor.info.kind != *expected)
        throw ToolError(shown(path) + ": holds an armoured " + describe(armor.info) + ", not a " + kind_name(*expected));
    Buffer bytes(armor.size);
    decode_armor(armor, bytes);
    // Public keys and signatures of levels 128 and 256 share a size; their
    // content tells them apart, and must agree with the label.
    const auto seen = classify_file(bytes);
    if (!seen || seen->kind != armor.info.kind || seen->level != armor.info.level)
        throw ToolError(shown(path) + ": is labelled " + describe(armor.info) + " but holds " +
                        (seen ? "a " + describe(*seen) : std::string("something else")));
    if (armored != nullptr) *armored = true;
    return bytes;
}

Bytes read_message(const std::string& path) { return read_input<Bytes>(path, SIZE_MAX); }

std::string size_text(std::size_t size) {
    return size > largest_object_size() ? "more than " + std::to_string(largest_object_size()) + " bytes"
                                        : std::to_string(size) + " bytes";
}

// "; it looks like a public key, level 128" when the file is some other object.
std::string hint(std::span<const std::uint8_t> bytes, ObjectKind expected) {
    const auto info = classify_file(bytes);
    if (!info || info->kind == expected) return "";
    return "; it looks like a " + describe(*info);
}

[[noreturn]] void fail_size(const std::string& path, std::span<const std::uint8_t> bytes, ObjectKind expected) {
    std::string wanted;
    for (const Level level : kAllLevels) {
        const Sizes s = sizes(level);
        const std::size_t want = expected == ObjectKind::secret_key ? s.secret_key
                                 : expected == ObjectKind::public_key ? s.public_key
                                                                      : s.signature;
        wanted += (wanted.empty() ? "" : ", ") + std::to_string(want) + " at level " + level_name(level);
    }
    throw ToolError(shown(path) + ": has " + size_text(bytes.size()) + ", which is not the size of a " + kind_name(expected) +
                    " (" + wanted + ")" + hint(bytes, expected));
}

Level public_key_level(const std::string& path, std::span<const std::uint8_t> bytes) {
    const auto level = level_of_public_key_size(bytes.size());
    if (!level) fail_size(path, bytes, ObjectKind::public_key);
    return *level;
}

[[noreturn]] void fail_malformed_public_key(const std::string& path, std::span<const std::uint8_t> bytes) {
    throw ToolError(shown(path) + ": not a valid public key" + hint(bytes, ObjectKind::public_key));
}

// The prepared public key, or the tool's error naming the file.
VerifyingKey load_verifying_key(const std::string& path, const Bytes& pub) {
    try {
        return VerifyingKey::from_bytes(pub);
    } catch (const Error& e) {
        if (e.code() == Errc::malformed_public_key) fail_malformed_public_key(path, pub);
        throw ToolError(shown(path) + ": " + e.what());
    }
}

// ---- Writing ---------------------------------------------------------------

bool exists_lstat(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The directory that holds the entry `path` names, and the entry's name.
std::pair<std::string, std::string> split_entry(const std::string& path) {
    const std::filesystem::path p(path);
    return {p.has_parent_path() ? p.parent_path().string() : ".", p.filename().string()};
}

// True when two names are one directory entry, however they are spelt: the
// same name in the same directory (compared by device and inode).
bool same_entry(const std::string& a, const std::string& b) {
    const auto [dir_a, name_a] = split_entry(a);
    const auto [dir_b, name_b] = split_entry(b);
    struct stat da {}, db {};
    return name_a == name_b && ::stat(dir_a.c_str(), &da) == 0 && ::stat(dir_b.c_str(), &db) == 0 &&
           da.st_dev == db.st_dev && da.st_ino == db.st_ino;
}

// True when writing the output `out` would replace the file `in`: the same
// entry, or a name for the same file (device and inode; a symbolic link at
// `out` is replaced itself, so it is not followed).
bool output_replaces(const std::string& out, const std::string& in) {
    if (same_entry(out, in)) return true;
    struct stat so {}, si {};
    return ::lstat(out.c_str(), &so) == 0 && S_ISREG(so.st_mode) && ::stat(in.c_str(), &si) == 0 &&
           so.st_dev == si.st_dev && so.st_ino == si.st_ino;
}

void write_all(int fd, std::span<const std::uint8_t> bytes, const std::string& what) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            fail_errno(what, "write failed", errno);
        }
        done += static_cast<std::size_t>(put);
    }
}

void sync_directory(const std::string& dir) {
    // Makes the rename durable; best effort, as some file systems refuse it.
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
}

// A file written in full to a temporary file beside its target, flushed to
// disk and only then renamed into place, so the target is never seen
// half-written. The temporary file is created afresh (O_EXCL | O_NOFOLLOW) in
// the directory of the name given, and the rename replaces that name: a
// symbolic link there is replaced itself, its target never written. Anything
// but a regular file or a link is refused. The temporary file is removed if
// anything fails before the commit.
class OutputFile {
public:
    OutputFile(const std::string& target, mode_t mode) : shown_(target), target_(target) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
            if (S_ISDIR(st.st_mode)) throw ToolError(shown_ + ": is a directory");
            throw ToolError(shown_ + ": is not a regular file; refusing to replace it");
        }
        std::string base;
        std::tie(dir_, base) = split_entry(target);
        base = base.substr(0, 100);
        // Batches create files from several threads at once.
        static std::atomic<unsigned> counter{0};
        for (int attempt = 0; attempt < 1000; ++attempt) {
            temp_ = dir_ + "/." + base + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
            fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
            if (fd_ >= 0 || errno != EEXIST) break;
        }
        if (fd_ < 0) {
            temp_.clear();
            fail_errno(shown_, "cannot write", errno);
        }
    }

    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    ~OutputFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
    }

    // Writes the whole content and flushes it to disk.
    void write(std::span<const std::uint8_t> bytes) {
        write_all(fd_, bytes, shown_);
        if (::fsync(fd_) != 0) fail_errno(shown_, "write failed", errno);
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) fail_errno(shown_, "write failed", errno);
    }

    // Moves the file into place. Without `replace`, an existing target (say,
    // one created since we looked) is an error rather than overwritten.
    // Without `sync_dir` the caller makes the rename durable (a batch syncs
    // each directory once, after all its renames).
    void commit(bool replace, bool sync_dir = true) {
        if (!replace) {
            if (::link(temp_.c_str(), target_.c_str()) == 0) {
                ::unlink(temp_.c_str());
                committed_ = true;
                if (sync_dir) sync_directory(dir_);
                return;
            }
            if (errno == EEXIST) throw ToolError(shown_ + ": already exists (use --force to replace it)");
            // File systems without hard links: the target was checked to be
            // absent before we started, so fall back to a plain rename.
            if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK)
                fail_errno(shown_, "cannot write", errno);
        }
        if (::rename(temp_.c_str(), target_.c_str()) != 0) fail_errno(shown_, "cannot write", errno);
        committed_ = true;
        if (sync_dir) sync_directory(dir_);
    }

    // Takes back a committed file that did not exist before (used when its
    // partner could not be written).
    void withdraw() noexcept {
        if (committed_) ::unlink(target_.c_str());
    }

private:
    std::string shown_;   // the path as the user gave it, for messages
    std::string target_;  // the name that is replaced
    std::string dir_;
    std::string temp_;
    int fd_ = -1;
    bool committed_ = false;
};

void write_stdout(std::span<const std::uint8_t> bytes) { write_all(STDOUT_FILENO, bytes, "standard output"); }

void print_stdout(const std::string& text) {
    if (std::fputs(text.c_str(), stdout) == EOF || std::fflush(stdout) != 0)
        fail_errno("standard output", "write failed", errno);
}

// The armoured text of an object, in a Buffer (SecretBytes for a secret key).
template <class Buffer>
Buffer armored(ObjectKind kind, Level level, std::span<const std::uint8_t> bytes) {
    const FileInfo info{kind, level};
    Buffer text(armored_size(info, bytes.size()));
    encode_armor(info, bytes, text);
    return text;
}

// ---- Commands --------------------------------------------------------------

int do_keygen(const Command& cmd) {
    // Keys from a known seed are known to everyone who has the seed.
    if (draws_are_deterministic())
        throw ToolError("keygen: refusing to generate keys while draws are deterministic (known-answer mode)");
    if (same_entry(cmd.public_key, cmd.secret_key) || output_replaces(cmd.secret_key, cmd.public_key))
        throw ToolError(cmd.secret_key + ": is the same file as the public key " + cmd.public_key);
    if (!cmd.force) {
        // Both are checked before either is written.
        for (const std::string* path : {&cmd.public_key, &cmd.secret_key})
            if (exists_lstat(*path)) throw ToolError(*path + ": already exists (use --force to replace it)");
    }

    const KeyPair pair = generate_keypair(cmd.level);
    OutputFile secret(cmd.secret_key, 0600);
    OutputFile pub(cmd.public_key, 0644);
    if (cmd.armor) {
        secret.write(armored<SecretBytes>(ObjectKind::secret_key, pair.level, pair.secret_key));
        pub.write(armored<Bytes>(ObjectKind::public_key, pair.level, pair.public_key));
    } else {
        secret.write(pair.secret_key);
        pub.write(pair.public_key);
    }
    secret.commit(cmd.force);
    try {
        pub.commit(cmd.force);
    } catch (...) {
        // A secret key without its public key is useless: take it back, unless
        // it replaced an older file (which is gone either way).
        if (!cmd.force) secret.withdraw();
        throw;
    }
    return kExitValid;
}

// Reads both keys, checks that they belong together and prepares them.
SigningKey load_signing_key(const Command& cmd) {
    mode_t secret_mode = 0;
    const SecretBytes secret = read_object<SecretBytes>(cmd.secret_key, ObjectKind::secret_key, &secret_mode);
    const Bytes pub = read_object<Bytes>(cmd.public_key, ObjectKind::public_key);
    const auto secret_level = level_of_secret_key_size(secret.size());
    if (!secret_level) fail_size(cmd.secret_key, secret, ObjectKind::secret_key);
    if ((secret_mode & (S_IRGRP | S_IROTH)) != 0) warn_readable_secret_key(cmd.secret_key, secret_mode);
    const Level pub_level = public_key_level(cmd.public_key, pub);
    if (*secret_level != pub_level)
        throw ToolError(shown(cmd.secret_key) + ": secret key is " + level_text(*secret_level) + " but public key " +
                        shown(cmd.public_key) + " is " + level_text(pub_level));

    try {
        return SigningKey::from_bytes(secret, pub);
    } catch (const Error& e) {
        if (e.code() == Errc::malformed_public_key) fail_malformed_public_key(cmd.public_key, pub);
        if (e.code() == Errc::key_mismatch)
            throw ToolError(shown(cmd.secret_key) + ": secret key does not belong to public key " +
                            shown(cmd.public_key));
        throw ToolError(shown(cmd.secret_key) + ": " + e.what());
    }
}

int do_sign(const Command& cmd) {
    if (cmd.output == "-" && !cmd.armor && ::isatty(STDOUT_FILENO))
        throw ToolError("standard output: refusing to write a binary signature to a terminal; use --out FILE");
    if (cmd.output != "-") {
        for (const std::string* input : {&cmd.secret_key, &cmd.public_key, &cmd.input})
            if (*input != "-" && output_replaces(cmd.output, *input))
                throw ToolError(cmd.output + ": is also the input " + *input + "; choose another --out file");
    }

    const SigningKey key = load_signing_key(cmd);
    const Bytes message = read_message(cmd.input);
    Bytes signature;
    try {
        signature = key.sign(message);
    } catch (const Error& e) {
        throw ToolError(shown(cmd.input) + ": cannot sign: " + e.what());
    }

    const Bytes text = cmd.armor ? armored<Bytes>(ObjectKind::signature, key.level(), signature) : Bytes{};
    const Bytes& written = cmd.armor ? text : signature;
    if (cmd.output == "-") {
        write_stdout(written);
    } else {
        OutputFile out(cmd.output, 0644);
        out.write(written);
        out.commit(true);
    }
    return kExitValid;
}

int do_verify(const Command& cmd) {
    const Bytes pub = read_object<Bytes>(cmd.public_key, ObjectKind::public_key);
    const Bytes signature = read_object<Bytes>(cmd.signature, ObjectKind::signature);
    const Level pub_level = public_key_level(cmd.public_key, pub);
    const auto sig_level = level_of_signature_size(signature.size());
    if (!sig_level) fail_size(cmd.signature, signature, ObjectKind::signature);
    if (*sig_level != pub_level)
        throw ToolError(shown(cmd.signature) + ": signature is " + level_text(*sig_level) + " but public key " +
                        shown(cmd.public_key) + " is " + level_text(pub_level));

    const VerifyingKey key = load_verifying_key(cmd.public_key, pub);

    const Bytes message = read_message(cmd.input);
    bool valid = false;
    try {
        valid = key.verify(signature, message);
    } catch (const Error& e) {
        throw ToolError(shown(cmd.signature) + ": " + e.what());
    }
    std::fputs(valid ? "valid\n" : "invalid\n", stderr);
    return valid ? kExitValid : kExitInvalid;
}

int do_info(const Command& cmd) {
    bool armored = false;
    const Bytes bytes = read_object<Bytes>(cmd.input, std::nullopt, nullptr, &armored);
    const auto info = classify_file(bytes);
    if (!info)
        throw ToolError(shown(cmd.input) + ": has " + size_text(bytes.size()) +
                        ", which matches no key or signature of any level");
    print_stdout(describe(*info) + (armored ? " (armoured)\n" : "\n"));
    return kExitValid;
}

// ---- Batches ---------------------------------------------------------------

// What became of one file of a batch: an exit status and, for status 2, why.
struct FileResult {
    int status = kExitValid;
    std::string error;
};

// Runs work(i) for every i < count on `jobs` threads, each taking the next
// file when it is done with one, and hands the results to report(i, result)
// on the calling thread in the order of i, each as soon as it and all before
// it are done; idle() runs whenever the calling thread is about to wait for
// the next result (and at the end), so that report can collect output and
// idle write it in bulk. work must not throw. If report throws, the workers
// take no further files and are joined before the exception leaves.
//
// When the next result is not ready, the calling thread sleeps until the one
// a few files further on is (or for at most 10 ms), and a worker wakes it
// only for that result: one wake-up per few files rather than per file, so
// that the workers keep the cores to themselves. A line is thus reported at
// most about 10 ms after it could have been.
template <class Work, class Report, class Idle>
void run_in_order(std::size_t count, unsigned jobs, const Work& work, const Report& report, const Idle& idle) {
    if (jobs <= 1 || count <= 1) {
        for (std::size_t i = 0; i < count; ++i) {
            report(i, work(i));
            idle();  // the next result is never ready before its work
        }
        return;
    }
    std::mutex mutex;
    std::condition_variable ready;
    std::vector<std::optional<FileResult>> results(count);
    std::size_t wanted = count;  // the result the calling thread waits for; guarded by mutex
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};

    struct Workers {
        std::atomic<bool>& stop;
        std::vector<std::thread> threads;
        ~Workers() {
            stop = true;
            for (std::thread& t : threads) t.join();
        }
    } workers{stop, {}};
    const std::size_t threads = std::min<std::size_t>(jobs, count);
    for (std::size_t t = 0; t < threads; ++t)
        workers.threads.emplace_back([&] {
            while (!stop) {
                const std::size_t i = next.fetch_add(1);
                if (i >= count) return;
                FileResult result = work(i);
                bool awaited = false;
                {
                    const std::lock_guard lock(mutex);
                    results[i] = std::move(result);
                    awaited = i == wanted;
                }
                if (awaited) ready.notify_one();
            }
        });

    const std::size_t ahead = 4 * static_cast<std::size_t>(threads);
    std::vector<FileResult> batch;
    for (std::size_t i = 0; i < count;) {
        {
            std::unique_lock lock(mutex);
            if (!results[i].has_value()) {
                wanted = std::min(i + ahead, count - 1);
                lock.unlock();
                idle();
                lock.lock();
                ready.wait_for(lock, std::chrono::milliseconds(10), [&] { return results[wanted].has_value(); });
            }
            // Everything ready from i on, in order.
            for (std::size_t j = i; j < count && results[j].has_value(); ++j) {
                batch.push_back(std::move(*results[j]));
                results[j].reset();
            }
        }
        for (FileResult& result : batch) report(i++, std::move(result));
        batch.clear();
    }
    idle();
}

// The failure of one file as a result; anything else escaping a worker would
// end the process.
template <class Body>
FileResult guarded(const Body& body) noexcept {
    try {
        return FileResult{body(), {}};
    } catch (const ToolError& e) {
        return FileResult{kExitError, e.what()};
    } catch (const std::bad_alloc&) {
        return FileResult{kExitError, "out of memory"};
    } catch (const std::exception& e) {
        return FileResult{kExitError, e.what()};
    } catch (...) {
        return FileResult{kExitError, "unknown error"};
    }
}

unsigned worker_count(const Command& cmd) {
    if (cmd.jobs != 0) return cmd.jobs;
    return std::max(1u, std::thread::hardware_concurrency());
}

std::string signature_name(const std::string& file) { return file + std::string(kSignatureSuffix); }

// A directory entry as (device, inode of its directory, name): two spellings
// of one entry give the same key. nullopt when the directory cannot be
// examined (writing there fails later, with its own message).
using EntryKey = std::tuple<dev_t, ino_t, std::string>;
std::optional<EntryKey> entry_key(const std::string& path) {
    const auto [dir, name] = split_entry(path);
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) return std::nullopt;
    return EntryKey{st.st_dev, st.st_ino, name};
}

// Before anything is read or written: no two FILEs of a signing batch may
// sign into one entry, and no signature may replace an input (the same entry,
// or a name for the same file), however the names are spelt. The parser has
// caught what the spelling alone shows.
void check_batch_outputs(const Command& cmd) {
    std::map<EntryKey, const std::string*> outputs;
    std::map<std::pair<dev_t, ino_t>, const std::string*> output_files;  // existing regular files
    for (const std::string& file : cmd.files) {
        const std::string name = signature_name(file);
        if (const auto key = entry_key(name)) {
            const auto [other, fresh] = outputs.emplace(*key, &file);
            if (!fresh)
                throw ToolError(*other->second + " and " + file + " both sign into " + name + "; name each FILE once");
        }
        struct stat st {};
        if (::lstat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode)) output_files.emplace(std::pair{st.st_dev, st.st_ino}, &file);
    }
    std::vector<const std::string*> inputs{&cmd.secret_key, &cmd.public_key};
    for (const std::string& file : cmd.files) inputs.push_back(&file);
    for (const std::string* input : inputs) {
        if (*input == "-") continue;
        const std::string* owner = nullptr;
        if (const auto key = entry_key(*input)) {
            if (const auto hit = outputs.find(*key); hit != outputs.end()) owner = hit->second;
        }
        struct stat st {};
        if (owner == nullptr && ::stat(input->c_str(), &st) == 0) {
            if (const auto hit = output_files.find({st.st_dev, st.st_ino}); hit != output_files.end()) owner = hit->second;
        }
        if (owner != nullptr)
            throw ToolError(signature_name(*owner) + ": the signature of " + *owner + " would replace the input " + *input);
    }
}

// Signs each FILE into FILE.sig. Every signature file is flushed to disk
// before it is renamed into place; the directories are synced once each at
// the end rather than after every rename (on a slow disk a directory sync
// takes milliseconds, several times a signature).
int do_sign_batch(const Command& cmd) {
    check_batch_outputs(cmd);
    const SigningKey key = load_signing_key(cmd);

    std::vector<char> written(cmd.files.size(), 0);  // each element touched by one worker only
    const auto work = [&](std::size_t i) {
        return guarded([&] {
            const std::string& file = cmd.files[i];
            const Bytes message = read_message(file);
            Bytes signature;
            try {
                signature = key.sign(message);
            } catch (const Error& e) {
                throw ToolError(file + ": cannot sign: " + e.what());
            }
            OutputFile out(signature_name(file), 0644);
            out.write(cmd.armor ? armored<Bytes>(ObjectKind::signature, key.level(), signature) : signature);
            out.commit(true, false);
            written[i] = 1;
            return kExitValid;
        });
    };
    int status = kExitValid;
    const auto report = [&](std::size_t, const FileResult& result) {
        if (result.status == kExitValid) return;
        report_error(result.error);
        status = kExitError;
    };
    run_in_order(cmd.files.size(), worker_count(cmd), work, report, [] {});

    std::map<std::pair<dev_t, ino_t>, std::string> directories;
    for (std::size_t i = 0; i < cmd.files.size(); ++i) {
        if (written[i] == 0) continue;
        const std::string dir = split_entry(signature_name(cmd.files[i])).first;
        struct stat st {};
        if (::stat(dir.c_str(), &st) == 0) directories.emplace(std::pair{st.st_dev, st.st_ino}, dir);
    }
    for (const auto& entry : directories) sync_directory(entry.second);
    return status;
}

// Checks each FILE against FILE.sig; one line per FILE on standard output.
int do_verify_batch(const Command& cmd) {
    const Bytes pub = read_object<Bytes>(cmd.public_key, ObjectKind::public_key);
    const Level pub_level = public_key_level(cmd.public_key, pub);
    const VerifyingKey key = load_verifying_key(cmd.public_key, pub);

    const auto work = [&](std::size_t i) {
        return guarded([&] {
            const std::string& file = cmd.files[i];
            const std::string name = signature_name(file);
            const Bytes signature = read_object<Bytes>(name, ObjectKind::signature);
            const auto sig_level = level_of_signature_size(signature.size());
            if (!sig_level) fail_size(name, signature, ObjectKind::signature);
            if (*sig_level != pub_level)
                throw ToolError(name + ": signature is " + level_text(*sig_level) + " but public key " +
                                shown(cmd.public_key) + " is " + level_text(pub_level));
            const Bytes message = read_message(file);
            try {
                return key.verify(signature, message) ? kExitValid : kExitInvalid;
            } catch (const Error& e) {
                throw ToolError(name + ": " + e.what());
            }
        });
    };
    int status = kExitValid;
    // The lines are collected while results keep coming and written whenever
    // the next one is not ready yet; an error's line goes out at once, after
    // everything before it, so that it meets its message on standard error.
    std::string lines;
    const auto flush = [&] {
        if (lines.empty()) return;
        print_stdout(lines);
        lines.clear();
    };
    const auto report = [&](std::size_t i, const FileResult& result) {
        const char* word = result.status == kExitValid ? ": valid\n" : result.status == kExitInvalid ? ": invalid\n" : ": error\n";
        if (result.status == kExitError) {
            flush();
            report_error(result.error);
        }
        lines += one_line(cmd.files[i]) + word;
        if (result.status == kExitError || lines.size() >= 4096) flush();
        status = std::max(status, result.status);
    };
    run_in_order(cmd.files.size(), worker_count(cmd), work, report, flush);
    return status;
}

}  // namespace

int run_tool(std::span<const std::string> args) {
    try {
        const ParseResult parsed = parse_arguments(args);
        if (const auto* error = std::get_if<UsageError>(&parsed)) {
            report_error(error->message);
            return kExitError;
        }
        const Command& cmd = std::get<Command>(parsed);
        switch (cmd.action) {
            case Action::help: print_stdout(help_text()); return kExitValid;
            case Action::version: print_stdout(std::string("ringtrap ") + version() + "\n"); return kExitValid;
            case Action::keygen: return do_keygen(cmd);
            case Action::sign: return cmd.batch ? do_sign_batch(cmd) : do_sign(cmd);
            case Action::verify: return cmd.batch ? do_verify_batch(cmd) : do_verify(cmd);
            case Action::info: return do_info(cmd);
        }
        return kExitError;
    } catch (const ToolError& e) {
        report_error(e.what());
    } catch (const std::bad_alloc&) {
        report_error("out of memory");
    } catch (const std::exception& e) {
        report_error(e.what());
    }
    return kExitError;
}

}  // namespace ringtrap::cli
