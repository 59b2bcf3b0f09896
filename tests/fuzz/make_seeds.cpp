// Writes the committed seed corpus of the fuzz targets: valid keys, signatures
// and messages of both levels in each target's input format, plus truncated,
// bit-flipped and edited variants. Deterministic (fixed seed), so rerunning it
// rewrites the same files.
//
// Usage: ringtrap_fuzz_seeds [corpus directory, default tests/fuzz/corpus]
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_support.h"

using namespace ringtrap;
using namespace ringtrap::fuzz;

namespace {

class Seed {
public:
    Seed& byte(std::uint8_t b) {
        bytes_.push_back(b);
        return *this;
    }
    Seed& u24(std::size_t v) { return byte(static_cast<std::uint8_t>(v)).byte(static_cast<std::uint8_t>(v >> 8)).byte(static_cast<std::uint8_t>(v >> 16)); }
    template <typename B>
    Seed& append(const B& b) {
        bytes_.insert(bytes_.end(), b.begin(), b.end());
        return *this;
    }
    Seed& text(const std::string& s) { return append(s); }
    Bytes& bytes() { return bytes_; }

private:
    Bytes bytes_;
};

std::filesystem::path g_root;

void write(const std::string& target, const std::string& name, const Bytes& bytes) {
    const std::filesystem::path dir = g_root / target;
    std::filesystem::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s/%s\n", target.c_str(), name.c_str());
        std::exit(1);
    }
}

std::string level_tag(Level level) { return std::to_string(static_cast<int>(level)); }

void sig_verf_seeds() {
    for (const Level level : {Level::L128, Level::L256}) {
        const Reference& ref = reference(level);
        const std::uint8_t lvl = level == Level::L256 ? 1 : 0;
        Seed valid;
        valid.byte(lvl).u24(ref.sig.size()).append(ref.pair.public_key).append(ref.sig).append(ref.msg);
        write("sig_verf", "valid-" + level_tag(level), valid.bytes());
        // Edited form: no edit (a valid signature, so the acceptance checks run),
        // and the sign bit of the first signature coefficient.
        Seed untouched;
        untouched.byte(lvl | 2).u24(ref.sig.size()).byte(0);
        write("sig_verf", "edited-none-" + level_tag(level), untouched.bytes());
        Seed sign_bit;
        sign_bit.byte(lvl | 2).u24(0).byte(1).u24(ref.pair.public_key.size() + 3).byte(0x80);
        write("sig_verf", "edited-sign-bit-" + level_tag(level), sign_bit.bytes());
        Seed other_message;
        other_message.byte(lvl | 6).u24(1).byte(0).text("fuzy");
        write("sig_verf", "edited-message-" + level_tag(level), other_message.bytes());
        if (level == Level::L128) {
            Bytes truncated = valid.bytes();
            truncated.resize(60000);
            write("sig_verf", "truncated-128", truncated);
            Bytes flipped = valid.bytes();
            flipped[4 + ref.pair.public_key.size() + 1000] ^= 0x10;
            write("sig_verf", "bit-flipped-128", flipped);
        }
    }
}

void api_verify_seeds() {
    const Reference& r128 = reference(Level::L128);
    const Reference& r256 = reference(Level::L256);
    Seed v128, v256, short_key, pair128;
    v128.byte(0).u24(r128.pair.public_key.size()).u24(r128.sig.size()).append(r128.pair.public_key).append(r128.sig).append(r128.msg);
    write("api_verify", "verify-128", v128.bytes());
    v256.byte(0).u24(r256.pair.public_key.size()).u24(r256.sig.size()).append(r256.pair.public_key).append(r256.sig).append(r256.msg);
    write("api_verify", "verify-256", v256.bytes());
    short_key.byte(0).u24(r128.pair.public_key.size() - 1).u24(r128.sig.size());
    short_key.append(Bytes(r128.pair.public_key.begin(), r128.pair.public_key.end() - 1)).append(r128.sig).append(r128.msg);
    write("api_verify", "verify-128-key-one-byte-short", short_key.bytes());
    pair128.byte(1).u24(r128.pair.secret_key.size()).u24(r128.pair.public_key.size());
    pair128.append(r128.pair.secret_key).append(r128.pair.public_key).text("sign me");
    write("api_verify", "signing-key-128", pair128.bytes());
    for (const Level level : {Level::L128, Level::L256}) {
        const std::uint8_t lvl = level == Level::L256 ? 4 : 0;
        Seed untouched, flipped;
        untouched.byte(2 | lvl).byte(0).text("edited form");
        write("api_verify", "edited-none-" + level_tag(level), untouched.bytes());
        flipped.byte(2 | lvl).byte(1).u24(8).byte(0x01).text("edited form");
        write("api_verify", "edited-secret-coefficient-" + level_tag(level), flipped.bytes());
    }
}

void api_sign_seeds() {
    Seed hello, empty, every;
    hello.byte(0).text("hello");
    write("api_sign", "hello-128", hello.bytes());
    empty.byte(1);
    write("api_sign", "empty-256", empty.bytes());
    every.byte(0);
    for (int i = 0; i < 256; ++i) every.byte(static_cast<std::uint8_t>(i));
    write("api_sign", "every-byte-128", every.bytes());
}

void cli_seeds() {
    const auto args = [](const std::string& name, std::initializer_list<std::string> list) {
        Seed s;
        s.byte(0);
        bool first = true;
        for (const std::string& a : list) {
            if (!first) s.byte(0);
            s.text(a);
            first = false;
        }
        write("cli", "args-" + name, s.bytes());
    };
    args("keygen", {"keygen", "--level", "256", "--public-key", "a.pk", "--secret-key=a.sk", "--force"});
    args("sign", {"sign", "--secret-key", "a.sk", "--public-key", "a.pk", "--in", "m.txt", "--out", "m.sig"});
    args("verify", {"verify", "--public-key", "a.pk", "--signature", "-", "--in", "m.txt"});
    args("sign-batch", {"sign", "--batch", "--jobs", "2", "--armor", "--secret-key", "a.sk", "--public-key", "a.pk", "m1",
                        "./m2", "--", "-m3"});
    args("verify-batch", {"verify", "--batch", "--public-key=a.pk", "m1", "m1"});
    args("info", {"info", "--", "-x"});
    args("help", {"sign", "--help"});
    args("version", {"--version"});
    args("bad-level", {"keygen", "--level", "192", "--public-key", "a", "--secret-key", "b"});

    const Reference& r128 = reference(Level::L128);
    Seed pk, sig;
    pk.byte(1).append(r128.pair.public_key);
    write("cli", "file-public-key-128", pk.bytes());
    sig.byte(1).append(r128.sig);
    write("cli", "file-signature-128", sig.bytes());
    // Sized form: object index in bits 0-3, offset 0 (value 1) in bits 4-5.
    for (std::uint8_t index = 0; index < 10; ++index) {
        Seed one, other;
        one.byte(2).byte(static_cast<std::uint8_t>(16 | index)).byte(1);
        write("cli", "sized-" + std::to_string(index) + "-starts-with-one", one.bytes());
        other.byte(2).byte(index).byte(1);
        write("cli", "sized-" + std::to_string(index) + "-one-byte-short", other.bytes());
    }
    // Armour: a short text, and every object's full text unedited and with one edit.
    Seed text;
    text.byte(3).text("-----BEGIN RINGTRAP SIGNATURE S128-----\r\nAAAA\n-----END RINGTRAP SIGNATURE S128-----\n");
    write("cli", "armor-text", text.bytes());
    for (std::uint8_t level = 0; level < 4; ++level)
        for (std::uint8_t kind = 0; kind < 3; ++kind) {
            const std::string name = std::to_string(level) + "-" + std::to_string(kind);
            Seed whole, edited;
            whole.byte(4).byte(static_cast<std::uint8_t>(kind << 2 | level));
            write("cli", "armor-object-" + name, whole.bytes());
            edited.byte(4).byte(static_cast<std::uint8_t>(kind << 2 | level)).u24(100).byte('=');
            write("cli", "armor-edited-" + name, edited.bytes());
        }
}

}  // namespace

int main(int argc, char** argv) {
    g_root = argc > 1 ? argv[1] : "tests/fuzz/corpus";
    sig_verf_seeds();
    api_verify_seeds();
    api_sign_seeds();
    cli_seeds();
    return 0;
}
