// Brightening of the viewer's picture.
//
// Each colour byte v becomes min(255, floor(floor(v * f / 16) * 5 / 4)) with
// f = floor(brightness * 2097 / 16384): about v * brightness / 100, in
// integer steps that stored pictures and copies must reproduce exactly.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brindle {

// The factor f of a brightness in percent (100 to 2000).
inline constexpr unsigned BrightnessFactor(int nBrightness) {
    return static_cast<unsigned>(nBrightness) * 2097u / 16384u;
}

// One byte, the reference form.
inline constexpr uint8_t BrightenByte(uint8_t v, unsigned f) {
    const unsigned r = (v * f / 16u) * 5u / 4u;
    return static_cast<uint8_t>(r > 255u ? 255u : r);
}

// Writes nBytes brightened bytes of `src` to `dst` (they may be the same
// buffer). A brightness of 100 or less copies. The plain form goes byte by
// byte; ApplyBrightness uses SSE2 where the processor has it and gives the
// same bytes.
void ApplyBrightnessPlain(const uint8_t* src, uint8_t* dst, size_t nBytes, int nBrightness);
void ApplyBrightness(const uint8_t* src, uint8_t* dst, size_t nBytes, int nBrightness);

// The next brightness after a brighter (+1) or darker (-1) request: a value
// below 100 is first taken as 100 (a darker request ends there); then 50 up
// to 2000 or 50 down to 100.
int NextBrightness(int nBrightness, int nDirection);

// The next zoom after zoom in (+1: z + z / 10, at most 20000) or out (-1:
// z - z / 11, at least 100).
int NextZoom(int nZoom, int nDirection);

} // namespace brindle
