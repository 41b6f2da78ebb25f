// The textured picture of the test camera: a street-like scene (sky with
// clouds, buildings with windows, a ground of fine texture) that an encoder
// finds as hard as a real camera's picture, plus sensor noise that changes
// from frame to frame. Colour bars compress far better than anything a
// camera sees, so figures measured on them flatter the pipeline.
//
// The still part is made once per frame size and shared by every test
// camera of the backend; each frame then costs one pass that adds noise.
#pragma once

#include "server/capture/capture_backend.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace brindle {

// Sensor noise is at most this many levels either way; the still part keeps
// its bytes that far from 0 and 255, so adding noise never overflows.
inline constexpr int TEXTURE_NOISE = 3;

// The still part of the picture for one frame size, bottom-up BGR rows
// DibStride(width) apart with zero padding, like a CaptureFrame.
struct TexturePicture {
    int32_t nWidth = 0;
    int32_t nHeight = 0;
    std::vector<uint8_t> pixels;
};

// Makes the still part for one size (deterministic; tens of milliseconds at
// 1920x1080). Throws std::bad_alloc when memory is short.
std::shared_ptr<const TexturePicture> MakeTexturePicture(int32_t nWidth, int32_t nHeight);

// Still parts by size, made on first use. Safe to use from any thread.
class TexturePictureCache {
  public:
    std::shared_ptr<const TexturePicture> Get(int32_t nWidth, int32_t nHeight);

  private:
    std::mutex lock_;
    std::map<std::pair<int32_t, int32_t>, std::shared_ptr<const TexturePicture>> pictures_;
};

// Writes the still part with the noise of frame nSeed into `frame` (sized
// to the picture; its buffer is reused when large enough). The same seed
// gives the same frame.
void RenderTexture(const TexturePicture& picture, uint32_t nSeed, CaptureFrame& frame);

} // namespace brindle
