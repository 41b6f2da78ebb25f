// The difference level of two frames: the mean absolute colour difference
// per pixel, summed over the three colours and scaled by 100.
//
// The byte sum has a plain form and vector forms (SSE2, AVX2); the fastest
// form the processor supports is chosen once at run time. All forms give the
// same sum for the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brindle {

enum class SimdLevel { Plain, Sse2, Avx2 };

// The best level this processor supports.
SimdLevel DetectSimdLevel();

// Sum of |a[i] - b[i]| over n bytes, in a given form. Asking for a level the
// processor lacks falls back to the plain form.
uint64_t SumAbsDiffAt(SimdLevel level, const uint8_t* a, const uint8_t* b, size_t n);

// The same with the level of DetectSimdLevel().
uint64_t SumAbsDiff(const uint8_t* a, const uint8_t* b, size_t n);

// Sum over the 3 x width x height pixel bytes of two frames laid out as
// CaptureFrame describes (rows DibStride(width) apart); padding bytes are
// not compared.
uint64_t FrameDifferenceSum(const uint8_t* a, const uint8_t* b, int32_t nWidth, int32_t nHeight);

// D = S / (width x height / 100). Frames of fewer than 100 pixels, where
// that divisor is 0, use the exact mean 100 x S / (width x height) instead;
// a frame without pixels gives 0. The result is clamped to INT32_MAX (real
// frames stay below 76,501).
int32_t DifferenceLevel(uint64_t nSum, int32_t nWidth, int32_t nHeight);

} // namespace brindle
