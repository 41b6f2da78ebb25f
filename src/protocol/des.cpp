#include "protocol/des.h"

namespace brindle {

namespace {

// Tables of FIPS 46, bit 1 being the most significant bit.
constexpr uint8_t kInitialPermutation[64] = {
    58, 50, 42, 34, 26, 18, 10, 2,  60, 52, 44, 36, 28, 20, 12, 4,  62, 54, 46, 38, 30, 22,
    14, 6,  64, 56, 48, 40, 32, 24, 16, 8,  57, 49, 41, 33, 25, 17, 9,  1,  59, 51, 43, 35,
    27, 19, 11, 3,  61, 53, 45, 37, 29, 21, 13, 5,  63, 55, 47, 39, 31, 23, 15, 7};

constexpr uint8_t kFinalPermutation[64] = {
    40, 8,  48, 16, 56, 24, 64, 32, 39, 7,  47, 15, 55, 23, 63, 31, 38, 6,  46, 14, 54, 22,
    62, 30, 37, 5,  45, 13, 53, 21, 61, 29, 36, 4,  44, 12, 52, 20, 60, 28, 35, 3,  43, 11,
    51, 19, 59, 27, 34, 2,  42, 10, 50, 18, 58, 26, 33, 1,  41, 9,  49, 17, 57, 25};

constexpr uint8_t kPermutationP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23,
                                       26, 5, 18, 31, 10, 2,  8,  24, 14, 32, 27,
                                       3,  9, 19, 13, 30, 6,  22, 11, 4,  25};

constexpr uint8_t kPermutedChoice1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                          10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                          63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                          14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr uint8_t kPermutedChoice2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr uint8_t kKeyShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr uint8_t kSBoxes[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11}};

// Output bit i (from the top of an nOut-bit value) is input bit table[i]
// (from the top of an nIn-bit value).
constexpr uint64_t Permute(uint64_t in, const uint8_t* table, int nOut, int nIn) {
    uint64_t out = 0;
    for (int i = 0; i < nOut; ++i)
        out = (out << 1) | ((in >> (nIn - table[i])) & 1);
    return out;
}

// S-box j followed by P, for every 6-bit input of the box: the round
// function becomes eight lookups.
struct SpTables {
    uint32_t entry[8][64];
};

constexpr SpTables BuildSpTables() {
    SpTables sp{};
    for (int j = 0; j < 8; ++j) {
        for (int v = 0; v < 64; ++v) {
            int row = ((v >> 4) & 2) | (v & 1);
            int column = (v >> 1) & 15;
            uint64_t s = static_cast<uint64_t>(kSBoxes[j][row * 16 + column]) << (28 - 4 * j);
            sp.entry[j][v] = static_cast<uint32_t>(Permute(s, kPermutationP, 32, 32));
        }
    }
    return sp;
}

constexpr SpTables kSp = BuildSpTables();

// f(R, K): expansion E, key mixing, S-boxes and P. E takes the six bits
// starting one before each group of four, wrapping around; w holds R with
// its last bit in front and its first bit behind (34 bits).
inline uint32_t RoundFunction(uint32_t r, const std::array<uint8_t, 8>& k) {
    uint64_t w = (static_cast<uint64_t>(r & 1) << 33) | (static_cast<uint64_t>(r) << 1) | (r >> 31);
    uint32_t f = 0;
    for (int j = 0; j < 8; ++j)
        f |= kSp.entry[j][((w >> (28 - 4 * j)) & 63) ^ k[j]];
    return f;
}

// The 16 rounds on a block already through the initial permutation; returns
// the pre-output block (halves swapped), still before the final one.
inline uint64_t Rounds(const DesKeySchedule& schedule, uint64_t block) {
    uint32_t l = static_cast<uint32_t>(block >> 32);
    uint32_t r = static_cast<uint32_t>(block);
    for (const auto& k : schedule.round) {
        uint32_t next = l ^ RoundFunction(r, k);
        l = r;
        r = next;
    }
    return (static_cast<uint64_t>(r) << 32) | l;
}

// The first byte of the final permutation of a pre-output block: output bits
// 1-8 are input bits 40, 8, 48, 16, 56, 24, 64, 32.
inline uint8_t FinalFirstByte(uint64_t preOutput) {
    uint8_t out = 0;
    for (int i = 0; i < 8; ++i)
        out = static_cast<uint8_t>((out << 1) | ((preOutput >> (64 - kFinalPermutation[i])) & 1));
    return out;
}

uint64_t LoadBigEndian(const uint8_t p[8]) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v = (v << 8) | p[i];
    return v;
}

} // namespace

DesKeySchedule DesSetKey(const uint8_t key[8]) {
    uint64_t cd = Permute(LoadBigEndian(key), kPermutedChoice1, 56, 64);
    uint32_t c = static_cast<uint32_t>(cd >> 28) & 0x0FFFFFFF;
    uint32_t d = static_cast<uint32_t>(cd) & 0x0FFFFFFF;
    DesKeySchedule schedule;
    for (int i = 0; i < 16; ++i) {
        int s = kKeyShifts[i];
        c = ((c << s) | (c >> (28 - s))) & 0x0FFFFFFF;
        d = ((d << s) | (d >> (28 - s))) & 0x0FFFFFFF;
        uint64_t k = Permute((static_cast<uint64_t>(c) << 28) | d, kPermutedChoice2, 48, 56);
        for (int j = 0; j < 8; ++j)
            schedule.round[i][j] = static_cast<uint8_t>((k >> (42 - 6 * j)) & 63);
    }
    return schedule;
}

uint64_t DesEncryptBlock(const DesKeySchedule& schedule, uint64_t block) {
    uint64_t pre = Rounds(schedule, Permute(block, kInitialPermutation, 64, 64));
    return Permute(pre, kFinalPermutation, 64, 64);
}

void DesEncryptBlock(const DesKeySchedule& schedule, const uint8_t in[8], uint8_t out[8]) {
    uint64_t v = DesEncryptBlock(schedule, LoadBigEndian(in));
    for (int i = 7; i >= 0; --i) {
        out[i] = static_cast<uint8_t>(v);
        v >>= 8;
    }
}

// The register goes through the initial permutation once; since the final
// permutation of one step and the initial permutation of the next cancel,
// each step only needs the rounds and the first output byte.
void DesOfb8(const DesKeySchedule& schedule, uint64_t registerValue, uint8_t* data, size_t n) {
    uint64_t state = Permute(registerValue, kInitialPermutation, 64, 64);
    for (size_t i = 0; i < n; ++i) {
        state = Rounds(schedule, state);
        data[i] ^= FinalFirstByte(state);
    }
}

} // namespace brindle
