#include "ki_hash.h"

#include <string>

#include "sha256.h"

namespace ringtrap::ki {

void hash_to_ring(const KiParamSet& p, const std::uint8_t* salt, const std::uint8_t* msg, std::size_t len,
                  std::int64_t* u) {
    const std::string tag = std::string("ringtrap-") + p.name + "-hash";
    std::uint8_t seed[36];
    Sha256 h;
    h.update(reinterpret_cast<const std::uint8_t*>(tag.data()), tag.size());
    h.update(salt, kSaltBytes);
    h.update(msg, len);
    h.final(seed);
    const std::uint32_t mask = static_cast<std::uint32_t>((std::uint64_t{1} << p.q_bits()) - 1);
    const auto q = static_cast<std::uint32_t>(p.q);
    const auto n = static_cast<std::size_t>(p.n);
    std::size_t filled = 0;
    for (std::uint32_t counter = 0; filled < n; ++counter) {
        for (std::size_t b = 0; b < 4; ++b) seed[32 + b] = static_cast<std::uint8_t>(counter >> (8 * b));
        std::uint8_t block[32];
        sha256(seed, sizeof seed, block);
        for (std::size_t w = 0; w < 8 && filled < n; ++w) {
            const std::uint32_t v = (std::uint32_t{block[4 * w]} | std::uint32_t{block[4 * w + 1]} << 8 |
                                     std::uint32_t{block[4 * w + 2]} << 16 | std::uint32_t{block[4 * w + 3]} << 24) &
                                    mask;
            if (v < q) u[filled++] = v;
        }
    }
}

}  // namespace ringtrap::ki
