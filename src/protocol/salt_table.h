// The salt table: key material that both programs hold identically, so that
// a packet only needs to name the entry (its salt index) that keyed it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace brindle {

inline constexpr size_t SALT_ENTRIES = 64;
inline constexpr size_t SALT_STRIDE = 16;
// Entry k is the window of SALT_WINDOW bytes at k * SALT_STRIDE; windows
// overlap and the last one ends at the end of the table.
inline constexpr size_t SALT_WINDOW = 107;
inline constexpr size_t SALT_TABLE_SIZE = SALT_STRIDE * (SALT_ENTRIES - 1) + SALT_WINDOW;

using SaltSeeds = std::array<uint32_t, SALT_ENTRIES>;
using SaltTableBytes = std::array<uint8_t, SALT_TABLE_SIZE>;

// The C runtime's srand/rand generator, which the table format is defined
// by: state = state * 214013 + 2531011 (mod 2^32), output bits 16-30.
class RuntimeRand {
  public:
    constexpr explicit RuntimeRand(uint32_t seed) : state_(seed) {}
    constexpr uint32_t Next() {
        state_ = state_ * 214013u + 2531011u;
        return (state_ >> 16) & 0x7FFF;
    }

  private:
    uint32_t state_;
};

// Builds a table from seeds: for entry k in order, seed the generator with
// seeds[k] and store the low byte of each of the next SALT_WINDOW outputs at
// k * SALT_STRIDE onwards, overwriting what earlier entries wrote there.
constexpr SaltTableBytes SaltTableBuild(const SaltSeeds& seeds) {
    SaltTableBytes table{};
    for (size_t k = 0; k < SALT_ENTRIES; ++k) {
        RuntimeRand rand(seeds[k]);
        for (size_t i = 0; i < SALT_WINDOW; ++i)
            table[k * SALT_STRIDE + i] = static_cast<uint8_t>(rand.Next());
    }
    return table;
}

// The seeds of both programs. Changing one breaks every peer.
extern const SaltSeeds kSaltSeeds;

// The process-wide table built from kSaltSeeds (a constant: it exists before
// any connection and is read-only).
const SaltTableBytes& SaltTable();

// The SALT_WINDOW bytes of entry nIndex (0-63; higher indexes wrap).
inline const uint8_t* SaltWindow(unsigned nIndex) {
    return SaltTable().data() + (nIndex % SALT_ENTRIES) * SALT_STRIDE;
}

} // namespace brindle
