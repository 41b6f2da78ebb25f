#include "server/capture/test_camera.h"

#include "common/error_codes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace brindle {

namespace {

constexpr int64_t INTERVAL_30_FPS = 333333;

// 5 x 7 glyphs of the characters of the time text, one byte a row, the low
// five bits used, bit 4 the leftmost pixel.
struct Glyph {
    char c;
    uint8_t rows[7];
};

const Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
};

const uint8_t* GlyphRows(char c) {
    for (const Glyph& glyph : kGlyphs) {
        if (glyph.c == c)
            return glyph.rows;
    }
    return nullptr;
}

// The classic eight colour bars, as BGR.
const uint8_t kBars[8][3] = {
    {235, 235, 235}, {16, 235, 235}, {235, 235, 16}, {16, 235, 16},
    {235, 16, 235},  {16, 16, 235},  {235, 16, 16},  {16, 16, 16},
};

// Pixel (x, y) of the picture, y counted from the top.
struct PixelRecipe {
    int32_t nWidth;
    int32_t nHeight;
    uint32_t nShift;
    uint32_t nScene;
    int32_t nPattern;
    int32_t nBoxX, nBoxY, nBoxW, nBoxH;

    void Colour(int32_t x, int32_t y, uint8_t* bgr) const {
        if (x >= nBoxX && x < nBoxX + nBoxW && y >= nBoxY && y < nBoxY + nBoxH) {
            bgr[0] = 0, bgr[1] = 128, bgr[2] = 255;
            return;
        }
        uint32_t u = static_cast<uint32_t>(x) + nShift;
        if (nPattern == 1) {
            bgr[0] = static_cast<uint8_t>(u);
            bgr[1] = static_cast<uint8_t>(static_cast<uint32_t>(y) + nShift / 2);
            bgr[2] = static_cast<uint8_t>(u + static_cast<uint32_t>(y));
        } else if (nPattern == 2) {
            uint8_t v = ((u / 32 + static_cast<uint32_t>(y) / 32) & 1) ? 230 : 25;
            bgr[0] = bgr[1] = bgr[2] = v;
        } else {
            uint32_t nBar = (u % static_cast<uint32_t>(nWidth)) * 8 / static_cast<uint32_t>(nWidth);
            std::memcpy(bgr, kBars[(nBar + nScene * 3) % 8], 3);
        }
    }
};

// Byte v at brightness b (128 leaves it), inverted in odd scenes.
uint8_t Adjust(uint8_t v, int32_t nBrightness, bool fInvert) {
    int32_t n = v * nBrightness / 128;
    uint8_t out = static_cast<uint8_t>(std::min(n, 255));
    return fInvert ? static_cast<uint8_t>(255 - out) : out;
}

// Draws text with the glyphs above, white on black cells, top-left at
// (x0, y0) of the picture, clipped to the frame.
void DrawText(const std::string& text, int32_t x0, int32_t y0, int32_t nScale,
              CaptureFrame& frame) {
    size_t nStride = DibStride(frame.nWidth);
    for (size_t i = 0; i < text.size(); ++i) {
        const uint8_t* rows = GlyphRows(text[i]);
        for (int32_t gy = 0; gy < 7 * nScale; ++gy) {
            int32_t y = y0 + gy;
            if (y < 0 || y >= frame.nHeight)
                continue;
            uint8_t* line = frame.pixels.data() + nStride * size_t(frame.nHeight - 1 - y);
            for (int32_t gx = 0; gx < 6 * nScale; ++gx) {
                int32_t x = x0 + int32_t(i) * 6 * nScale + gx;
                if (x < 0 || x >= frame.nWidth)
                    continue;
                bool fOn = rows != nullptr && gx / nScale < 5 &&
                           (rows[gy / nScale] >> (4 - gx / nScale)) & 1;
                std::memset(line + 3 * size_t(x), fOn ? 255 : 0, 3);
            }
        }
    }
}

// Where the moving box is at a phase.
int32_t BoxX(uint32_t nPhase, int32_t nWidth) {
    return int32_t((nPhase * 3) % uint32_t(std::max(1, nWidth - nWidth / 8)));
}

int32_t BoxY(uint32_t nPhase, int32_t nHeight) {
    return int32_t((nPhase * 2) % uint32_t(std::max(1, nHeight - nHeight / 8)));
}

} // namespace

TestCameraScene::TestCameraScene(const Clock& clock, std::shared_ptr<TexturePictureCache> textures)
    : clock_(clock),
      textures_(textures ? std::move(textures) : std::make_shared<TexturePictureCache>()) {}

void TestCameraScene::Freeze(bool fFrozen) {
    std::lock_guard<std::mutex> guard(lock_);
    if (fFrozen && !state_.fFrozen) {
        state_.nPhase = clock_.Tick() / 40;
        state_.time = clock_.LocalNow();
    }
    state_.fFrozen = fFrozen;
}

void TestCameraScene::SetScene(uint32_t nScene) {
    std::lock_guard<std::mutex> guard(lock_);
    state_.nScene = nScene;
}

void TestCameraScene::NextScene() {
    std::lock_guard<std::mutex> guard(lock_);
    ++state_.nScene;
}

TestCameraScene::State TestCameraScene::Snapshot() const {
    std::lock_guard<std::mutex> guard(lock_);
    State state = state_;
    if (!state.fFrozen) {
        // About 25 pixels a second.
        state.nPhase = clock_.Tick() / 40;
        state.time = clock_.LocalNow();
    }
    return state;
}

std::vector<CaptureControl> TestCameraScene::Controls() const {
    State state = Snapshot();
    std::vector<CaptureControl> controls(3);
    controls[0] = {TEST_CONTROL_BRIGHTNESS,
                   "User Controls",
                   "Brightness",
                   ControlType::Integer,
                   0,
                   255,
                   1,
                   128,
                   state.nBrightness,
                   {},
                   0};
    controls[1] = {TEST_CONTROL_SHOW_TIME,
                   "User Controls",
                   "Show Time",
                   ControlType::Boolean,
                   0,
                   1,
                   1,
                   1,
                   state.fShowTime,
                   {},
                   0};
    controls[2] = {TEST_CONTROL_PATTERN,
                   "Camera Controls",
                   "Pattern",
                   ControlType::Menu,
                   TEST_PATTERN_BARS,
                   TEST_PATTERN_TEXTURE,
                   1,
                   TEST_PATTERN_BARS,
                   state.nPattern,
                   {"Bars", "Gradient", "Checker", "Texture"},
                   0};
    return controls;
}

uint32_t TestCameraScene::SetControl(uint32_t nId, int32_t nValue) {
    std::lock_guard<std::mutex> guard(lock_);
    switch (nId) {
    case TEST_CONTROL_BRIGHTNESS:
        if (nValue < 0 || nValue > 255)
            return ERROR_INVALID_PARAMETER_CODE;
        state_.nBrightness = nValue;
        return 0;
    case TEST_CONTROL_SHOW_TIME:
        if (nValue < 0 || nValue > 1)
            return ERROR_INVALID_PARAMETER_CODE;
        state_.fShowTime = nValue;
        return 0;
    case TEST_CONTROL_PATTERN:
        if (nValue < TEST_PATTERN_BARS || nValue > TEST_PATTERN_TEXTURE)
            return ERROR_INVALID_PARAMETER_CODE;
        state_.nPattern = nValue;
        return 0;
    default:
        return ERROR_INVALID_PARAMETER_CODE;
    }
}

void TestCameraScene::Render(int32_t nWidth, int32_t nHeight, CaptureFrame& frame) const {
    State state = Snapshot();
    if (state.nPattern == TEST_PATTERN_TEXTURE)
        RenderTextured(state, nWidth, nHeight, frame);
    else
        RenderPattern(state, nWidth, nHeight, frame);
    if (state.fShowTime) {
        char text[32];
        std::snprintf(text, sizeof text, "%04hu-%02hu-%02hu %02hu:%02hu:%02hu", state.time.wYear,
                      state.time.wMonth, state.time.wDay, state.time.wHour, state.time.wMinute,
                      state.time.wSecond);
        int32_t nScale = std::max(1, nHeight / 160);
        DrawText(text, 8 * nScale, 8 * nScale, nScale, frame);
    }
}

void TestCameraScene::RenderPattern(const State& state, int32_t nWidth, int32_t nHeight,
                                    CaptureFrame& frame) const {
    size_t nStride = DibStride(nWidth);
    frame.nWidth = nWidth;
    frame.nHeight = nHeight;
    frame.pixels.assign(nStride * size_t(nHeight), 0);

    PixelRecipe recipe{nWidth, nHeight, state.nPhase, state.nScene, state.nPattern,
                       0,      0,       nWidth / 8,   nHeight / 8};
    recipe.nBoxX = BoxX(state.nPhase, nWidth);
    recipe.nBoxY = BoxY(state.nPhase, nHeight);
    bool fInvert = (state.nScene & 1) != 0;
    for (int32_t y = 0; y < nHeight; ++y) {
        uint8_t* line = frame.pixels.data() + nStride * size_t(nHeight - 1 - y);
        for (int32_t x = 0; x < nWidth; ++x) {
            uint8_t* pixel = line + 3 * size_t(x);
            recipe.Colour(x, y, pixel);
            for (int i = 0; i < 3; ++i)
                pixel[i] = Adjust(pixel[i], state.nBrightness, fInvert);
        }
    }
}

// The still picture with this frame's noise, the moving box on it; odd
// scenes are inverted and every second pair of scenes turns the colours,
// so that any two scenes differ everywhere.
void TestCameraScene::RenderTextured(const State& state, int32_t nWidth, int32_t nHeight,
                                     CaptureFrame& frame) const {
    std::shared_ptr<const TexturePicture> picture = textures_->Get(nWidth, nHeight);
    RenderTexture(*picture, state.nPhase * 2654435761u + state.nScene, frame);
    const size_t nStride = DibStride(nWidth);
    const int32_t nBoxW = nWidth / 8, nBoxH = nHeight / 8;
    const int32_t nBoxX = BoxX(state.nPhase, nWidth), nBoxY = BoxY(state.nPhase, nHeight);
    static const uint8_t kBox[3] = {0, 128, 255};
    for (int32_t y = nBoxY; y < nBoxY + nBoxH && y < nHeight; ++y) {
        uint8_t* line = frame.pixels.data() + nStride * size_t(nHeight - 1 - y);
        for (int32_t x = nBoxX; x < nBoxX + nBoxW && x < nWidth; ++x)
            std::memcpy(line + 3 * size_t(x), kBox, 3);
    }
    const bool fInvert = (state.nScene & 1) != 0;
    const uint32_t nTurn = (state.nScene / 2) % 3;
    if (state.nBrightness == 128 && !fInvert && nTurn == 0)
        return;
    uint8_t table[256];
    for (int v = 0; v < 256; ++v)
        table[v] = Adjust(uint8_t(v), state.nBrightness, fInvert);
    for (int32_t y = 0; y < nHeight; ++y) {
        uint8_t* line = frame.pixels.data() + nStride * size_t(y);
        for (int32_t x = 0; x < nWidth; ++x) {
            uint8_t* pixel = line + 3 * size_t(x);
            uint8_t bgr[3] = {table[pixel[0]], table[pixel[1]], table[pixel[2]]};
            for (uint32_t i = 0; i < 3; ++i)
                pixel[i] = bgr[(i + nTurn) % 3];
        }
    }
}

namespace {

class TestCameraStream : public CaptureStream {
  public:
    TestCameraStream(std::shared_ptr<TestCameraScene> scene, CaptureFormat format)
        : scene_(std::move(scene)), format_(format) {}

    uint32_t NewestFrame(CaptureFrame& frame) override {
        if (fStopped_)
            return ERROR_INVALID_PARAMETER_CODE;
        scene_->Render(format_.nWidth, format_.nHeight, frame);
        return 0;
    }

    uint32_t Stop() override {
        fStopped_ = true;
        return 0;
    }

  private:
    std::shared_ptr<TestCameraScene> scene_;
    CaptureFormat format_;
    bool fStopped_ = false;
};

} // namespace

TestCameraBackend::TestCameraBackend(int nCount, const Clock& clock, int32_t nPattern) {
    auto textures = std::make_shared<TexturePictureCache>();
    for (int i = 0; i < nCount; ++i) {
        scenes_.push_back(std::make_shared<TestCameraScene>(clock, textures));
        scenes_.back()->SetControl(TEST_CONTROL_PATTERN, nPattern);
    }
}

std::vector<CaptureFormat> TestCameraBackend::Formats() {
    return {
        {640, 480, INTERVAL_30_FPS}, {1280, 720, INTERVAL_30_FPS}, {1920, 1080, INTERVAL_30_FPS}};
}

uint32_t TestCameraBackend::Enumerate(std::vector<CaptureDeviceInfo>& devices) {
    for (int i = 0; i < Count(); ++i) {
        CaptureDeviceInfo device;
        device.friendlyName = TEST_CAMERA_NAME;
        device.devicePath = TEST_CAMERA_PATH_PREFIX + std::to_string(i);
        device.formats = Formats();
        devices.push_back(std::move(device));
    }
    return 0;
}

int TestCameraBackend::IndexOf(const std::string& devicePath) const {
    const size_t nPrefix = sizeof TEST_CAMERA_PATH_PREFIX - 1;
    if (devicePath.compare(0, nPrefix, TEST_CAMERA_PATH_PREFIX) != 0)
        return -1;
    std::string number = devicePath.substr(nPrefix);
    if (number.empty() || number.size() > 4 ||
        !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    int nIndex = std::stoi(number);
    return nIndex < Count() ? nIndex : -1;
}

bool TestCameraBackend::Handles(const std::string& devicePath) const {
    return IndexOf(devicePath) >= 0;
}

uint32_t TestCameraBackend::Start(const std::string& devicePath, const CaptureFormat& wanted,
                                  bool fMatchInterval, std::unique_ptr<CaptureStream>& stream,
                                  std::string& hint) {
    hint.clear();
    int nIndex = IndexOf(devicePath);
    if (nIndex < 0)
        return ERROR_FILE_NOT_FOUND_CODE;
    // Like a real device, an unknown format leaves the current one (the
    // first) in force.
    CaptureFormat format = Formats().front();
    for (const CaptureFormat& offered : Formats()) {
        if (offered.nWidth == wanted.nWidth && offered.nHeight == wanted.nHeight &&
            (!fMatchInterval || offered.nInterval == wanted.nInterval))
            format = offered;
    }
    stream = std::make_unique<TestCameraStream>(scenes_[size_t(nIndex)], format);
    return 0;
}

uint32_t TestCameraBackend::ListControls(const std::string& devicePath,
                                         std::vector<CaptureControl>& controls) {
    int nIndex = IndexOf(devicePath);
    if (nIndex < 0)
        return ERROR_FILE_NOT_FOUND_CODE;
    controls = scenes_[size_t(nIndex)]->Controls();
    return 0;
}

uint32_t TestCameraBackend::SetControl(const std::string& devicePath, uint32_t nId,
                                       int32_t nValue) {
    int nIndex = IndexOf(devicePath);
    if (nIndex < 0)
        return ERROR_FILE_NOT_FOUND_CODE;
    return scenes_[size_t(nIndex)]->SetControl(nId, nValue);
}

} // namespace brindle
