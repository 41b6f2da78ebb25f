#include "imagestore/viewer/brightness.h"

#include "imagestore/viewer_entry.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace brindle {

void ApplyBrightnessPlain(const uint8_t* src, uint8_t* dst, size_t nBytes, int nBrightness) {
    if (nBrightness <= VIEWER_BRIGHTNESS_MIN) {
        if (src != dst)
            std::memmove(dst, src, nBytes);
        return;
    }
    const unsigned f = BrightnessFactor(nBrightness);
    for (size_t i = 0; i < nBytes; ++i)
        dst[i] = BrightenByte(src[i], f);
}

void ApplyBrightness(const uint8_t* src, uint8_t* dst, size_t nBytes, int nBrightness) {
#if defined(__SSE2__)
    if (nBrightness <= VIEWER_BRIGHTNESS_MIN) {
        ApplyBrightnessPlain(src, dst, nBytes, nBrightness);
        return;
    }
    // f <= 255, so v * f fits an unsigned 16-bit lane; the shifts are the
    // divisions by 16 and 4, and packing to bytes saturates at 255.
    const __m128i factor = _mm_set1_epi16(static_cast<short>(BrightnessFactor(nBrightness)));
    const __m128i zero = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 16 <= nBytes; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        __m128i lo = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(v, zero), factor), 4);
        __m128i hi = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(v, zero), factor), 4);
        lo = _mm_srli_epi16(_mm_add_epi16(lo, _mm_slli_epi16(lo, 2)), 2);
        hi = _mm_srli_epi16(_mm_add_epi16(hi, _mm_slli_epi16(hi, 2)), 2);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(lo, hi));
    }
    ApplyBrightnessPlain(src + i, dst + i, nBytes - i, nBrightness);
#else
    ApplyBrightnessPlain(src, dst, nBytes, nBrightness);
#endif
}

int NextBrightness(int nBrightness, int nDirection) {
    if (nBrightness < VIEWER_BRIGHTNESS_MIN) {
        if (nDirection < 0)
            return VIEWER_BRIGHTNESS_MIN;
        nBrightness = VIEWER_BRIGHTNESS_MIN;
    }
    if (nDirection > 0)
        return std::min(nBrightness + 50, VIEWER_BRIGHTNESS_MAX);
    if (nDirection < 0)
        return std::max(nBrightness - 50, VIEWER_BRIGHTNESS_MIN);
    return nBrightness;
}

int NextZoom(int nZoom, int nDirection) {
    if (nDirection > 0)
        return std::min(nZoom + nZoom / 10, VIEWER_ZOOM_MAX);
    if (nDirection < 0)
        return std::max(nZoom - nZoom / 11, VIEWER_ZOOM_MIN);
    return nZoom;
}

} // namespace brindle
