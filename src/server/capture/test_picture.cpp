#include "server/capture/test_picture.h"

#include <algorithm>
#include <cstring>

namespace brindle {

namespace {

uint64_t Mix(uint64_t n) {
    n += 0x9E3779B97F4A7C15ull;
    n = (n ^ (n >> 30)) * 0xBF58476D1CE4E5B9ull;
    n = (n ^ (n >> 27)) * 0x94D049BB133111EBull;
    return n ^ (n >> 31);
}

// A value in 0..1 for lattice point (x, y) of layer nLayer.
float Lattice(int32_t x, int32_t y, uint32_t nLayer) {
    uint64_t n = Mix((uint64_t(uint32_t(x)) << 32 | uint32_t(y)) ^ (uint64_t(nLayer) << 56));
    return float(n >> 40) / float(1 << 24);
}

// Smooth noise in -1..1 with features about nCell pixels large.
float ValueNoise(int32_t x, int32_t y, int32_t nCell, uint32_t nLayer) {
    int32_t cx = x / nCell, cy = y / nCell;
    float fx = float(x % nCell) / float(nCell), fy = float(y % nCell) / float(nCell);
    fx = fx * fx * (3 - 2 * fx);
    fy = fy * fy * (3 - 2 * fy);
    float top = Lattice(cx, cy, nLayer) * (1 - fx) + Lattice(cx + 1, cy, nLayer) * fx;
    float bottom = Lattice(cx, cy + 1, nLayer) * (1 - fx) + Lattice(cx + 1, cy + 1, nLayer) * fx;
    return 2 * (top * (1 - fy) + bottom * fy) - 1;
}

struct Colour {
    float b, g, r;
};

// One building of the row along the horizon.
struct Building {
    int32_t x0, x1, nTop;
    Colour wall;
};

std::vector<Building> Buildings(int32_t nWidth, int32_t nHorizon) {
    std::vector<Building> buildings;
    uint64_t n = 7;
    for (int32_t x = 0; x < nWidth;) {
        n = Mix(n);
        int32_t w = nWidth / 24 + int32_t(n % uint64_t(std::max(1, nWidth / 10)));
        int32_t h = nHorizon / 5 + int32_t((n >> 16) % uint64_t(std::max(1, nHorizon * 3 / 5)));
        float shade = 90 + float((n >> 32) % 90);
        float tint = float((n >> 48) % 40);
        buildings.push_back({x, x + w, nHorizon - h, {shade - tint / 2, shade, shade + tint}});
        x += w + int32_t((n >> 24) % 8);
    }
    return buildings;
}

Colour SkyAt(int32_t x, int32_t y, int32_t nHorizon) {
    float t = float(y) / float(std::max(1, nHorizon));
    float cloud = std::max(0.0f, ValueNoise(x, y, 160, 1) + 0.5f * ValueNoise(x, y, 40, 2));
    float haze = 60 * cloud;
    return {225 - 40 * t + haze, 170 + 30 * t + haze, 110 + 60 * t + haze};
}

Colour BuildingAt(const Building& b, int32_t x, int32_t y) {
    int32_t wx = (x - b.x0) % 22, wy = (y - b.nTop) % 30;
    float grain = 10 * ValueNoise(x, y, 3, 3);
    Colour c{b.wall.b + grain, b.wall.g + grain, b.wall.r + grain};
    if (x - b.x0 > 4 && b.x1 - x > 4 && wx >= 6 && wx < 16 && wy >= 8 && wy < 22) {
        float lit = Lattice((x - b.x0) / 22 + b.x0, (y - b.nTop) / 30, 4) > 0.7f ? 90 : -50;
        c = {c.b + lit * 0.6f, c.g + lit * 0.9f, c.r + lit};
    }
    return c;
}

Colour GroundAt(int32_t x, int32_t y, int32_t nHorizon, int32_t nHeight) {
    float depth = float(y - nHorizon) / float(std::max(1, nHeight - nHorizon));
    float patch = ValueNoise(x, y, 48, 5);
    float fine = 22 * ValueNoise(x, y, 4, 6) + 12 * ValueNoise(x, y, 2, 7);
    float g = 95 + 40 * patch + 30 * depth + fine;
    return {45 + 15 * patch + fine * 0.5f, g, 70 + 35 * (1 - patch) + fine * 0.8f};
}

uint8_t Level(float v) {
    return uint8_t(std::clamp(int(v), TEXTURE_NOISE, 255 - TEXTURE_NOISE));
}

// Noise bytes, each -TEXTURE_NOISE..TEXTURE_NOISE; a frame takes each row
// from its own place in the table.
constexpr size_t NOISE_TABLE = size_t(1) << 20;

const std::vector<int8_t>& NoiseTable() {
    static const std::vector<int8_t> table = [] {
        std::vector<int8_t> values(NOISE_TABLE);
        uint64_t n = 1;
        for (size_t i = 0; i < values.size(); ++i) {
            n = Mix(n);
            values[i] = int8_t(int(n % (2 * TEXTURE_NOISE + 1)) - TEXTURE_NOISE);
        }
        return values;
    }();
    return table;
}

} // namespace

std::shared_ptr<const TexturePicture> MakeTexturePicture(int32_t nWidth, int32_t nHeight) {
    auto picture = std::make_shared<TexturePicture>();
    picture->nWidth = nWidth;
    picture->nHeight = nHeight;
    const size_t nStride = DibStride(nWidth);
    picture->pixels.assign(nStride * size_t(std::max(nHeight, 0)), 0);
    const int32_t nHorizon = nHeight * 9 / 20;
    const std::vector<Building> buildings = Buildings(nWidth, nHorizon);
    size_t nNext = 0;
    for (int32_t x = 0; x < nWidth; ++x) {
        while (nNext + 1 < buildings.size() && buildings[nNext].x1 <= x)
            ++nNext;
        for (int32_t y = 0; y < nHeight; ++y) {
            const Building& b = buildings[nNext];
            Colour c = y >= nHorizon                          ? GroundAt(x, y, nHorizon, nHeight)
                       : x >= b.x0 && x < b.x1 && y >= b.nTop ? BuildingAt(b, x, y)
                                                              : SkyAt(x, y, nHorizon);
            uint8_t* pixel =
                picture->pixels.data() + nStride * size_t(nHeight - 1 - y) + 3 * size_t(x);
            pixel[0] = Level(c.b), pixel[1] = Level(c.g), pixel[2] = Level(c.r);
        }
    }
    return picture;
}

std::shared_ptr<const TexturePicture> TexturePictureCache::Get(int32_t nWidth, int32_t nHeight) {
    std::lock_guard<std::mutex> guard(lock_);
    auto& picture = pictures_[{nWidth, nHeight}];
    if (!picture)
        picture = MakeTexturePicture(nWidth, nHeight);
    return picture;
}

void RenderTexture(const TexturePicture& picture, uint32_t nSeed, CaptureFrame& frame) {
    const size_t nStride = DibStride(picture.nWidth);
    const size_t nRow = 3 * size_t(picture.nWidth);
    frame.nWidth = picture.nWidth;
    frame.nHeight = picture.nHeight;
    frame.pixels.resize(picture.pixels.size());
    const std::vector<int8_t>& noise = NoiseTable();
    const size_t nSpan = noise.size() > nRow ? noise.size() - nRow : 1;
    for (int32_t y = 0; y < picture.nHeight; ++y) {
        const uint8_t* in = picture.pixels.data() + nStride * size_t(y);
        uint8_t* out = frame.pixels.data() + nStride * size_t(y);
        if (nRow > noise.size()) {
            std::memcpy(out, in, nStride);
            continue;
        }
        const int8_t* add = noise.data() + Mix(uint64_t(nSeed) << 32 | uint32_t(y)) % nSpan;
        // The still part keeps TEXTURE_NOISE away from both ends: no clamping.
        for (size_t i = 0; i < nRow; ++i)
            out[i] = uint8_t(in[i] + add[i]);
        std::memset(out + nRow, 0, nStride - nRow);
    }
}

} // namespace brindle
