#include "server/capture/difference.h"

#include "server/capture/capture_backend.h"

#include <climits>
#include <cstdlib>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define BRINDLE_X86 1
#endif

namespace brindle {

namespace {

uint64_t SumPlain(const uint8_t* a, const uint8_t* b, size_t n) {
    uint64_t nSum = 0;
    for (size_t i = 0; i < n; ++i)
        nSum += static_cast<uint64_t>(std::abs(int(a[i]) - int(b[i])));
    return nSum;
}

#ifdef BRINDLE_X86

// psadbw gives two 64-bit partial sums per 16 bytes; unaligned loads keep
// the frames free of alignment rules.
__attribute__((target("sse2"))) uint64_t SumSse2(const uint8_t* a, const uint8_t* b, size_t n) {
    __m128i acc0 = _mm_setzero_si128();
    __m128i acc1 = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i + 16));
        __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i + 16));
        acc0 = _mm_add_epi64(acc0, _mm_sad_epu8(a0, b0));
        acc1 = _mm_add_epi64(acc1, _mm_sad_epu8(a1, b1));
    }
    for (; i + 16 <= n; i += 16) {
        __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        acc0 = _mm_add_epi64(acc0, _mm_sad_epu8(a0, b0));
    }
    __m128i acc = _mm_add_epi64(acc0, acc1);
    uint64_t nSum = static_cast<uint64_t>(_mm_cvtsi128_si64(acc)) +
                    static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(acc, acc)));
    return nSum + SumPlain(a + i, b + i, n - i);
}

__attribute__((target("avx2"))) uint64_t SumAvx2(const uint8_t* a, const uint8_t* b, size_t n) {
    __m256i acc0 = _mm256_setzero_si256();
    __m256i acc1 = _mm256_setzero_si256();
    size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
        __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
        __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i + 32));
        __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i + 32));
        acc0 = _mm256_add_epi64(acc0, _mm256_sad_epu8(a0, b0));
        acc1 = _mm256_add_epi64(acc1, _mm256_sad_epu8(a1, b1));
    }
    __m256i acc = _mm256_add_epi64(acc0, acc1);
    __m128i half = _mm_add_epi64(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
    uint64_t nSum = static_cast<uint64_t>(_mm_cvtsi128_si64(half)) +
                    static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(half, half)));
    return nSum + SumSse2(a + i, b + i, n - i);
}

#endif

using SumFunction = uint64_t (*)(const uint8_t*, const uint8_t*, size_t);

SumFunction FunctionFor(SimdLevel level) {
#ifdef BRINDLE_X86
    if (level == SimdLevel::Avx2 && __builtin_cpu_supports("avx2"))
        return SumAvx2;
    if (level != SimdLevel::Plain && __builtin_cpu_supports("sse2"))
        return SumSse2;
#else
    (void)level;
#endif
    return SumPlain;
}

} // namespace

SimdLevel DetectSimdLevel() {
#ifdef BRINDLE_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        return SimdLevel::Avx2;
    if (__builtin_cpu_supports("sse2"))
        return SimdLevel::Sse2;
#endif
    return SimdLevel::Plain;
}

uint64_t SumAbsDiffAt(SimdLevel level, const uint8_t* a, const uint8_t* b, size_t n) {
    return FunctionFor(level)(a, b, n);
}

uint64_t SumAbsDiff(const uint8_t* a, const uint8_t* b, size_t n) {
    static const SumFunction best = FunctionFor(DetectSimdLevel());
    return best(a, b, n);
}

uint64_t FrameDifferenceSum(const uint8_t* a, const uint8_t* b, int32_t nWidth, int32_t nHeight) {
    if (nWidth <= 0 || nHeight <= 0)
        return 0;
    size_t nRowBytes = static_cast<size_t>(nWidth) * 3;
    size_t nStride = DibStride(nWidth);
    if (nStride == nRowBytes)
        return SumAbsDiff(a, b, nRowBytes * static_cast<size_t>(nHeight));
    uint64_t nSum = 0;
    for (int32_t y = 0; y < nHeight; ++y) {
        size_t nOffset = static_cast<size_t>(y) * nStride;
        nSum += SumAbsDiff(a + nOffset, b + nOffset, nRowBytes);
    }
    return nSum;
}

int32_t DifferenceLevel(uint64_t nSum, int32_t nWidth, int32_t nHeight) {
    if (nWidth <= 0 || nHeight <= 0)
        return 0;
    uint64_t nPixels = static_cast<uint64_t>(nWidth) * static_cast<uint64_t>(nHeight);
    uint64_t nDivisor = nPixels / 100;
    uint64_t nLevel = nDivisor != 0 ? nSum / nDivisor : nSum * 100 / nPixels;
    return nLevel > INT32_MAX ? INT32_MAX : static_cast<int32_t>(nLevel);
}

} // namespace brindle
