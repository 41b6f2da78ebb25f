// The built-in test-pattern camera: a capture device without hardware, for
// trying the server without a camera and for running the whole image road
// in tests. It shows a moving pattern with the current time in it.
//
// Tests freeze the scene (every frame then is identical) and change it
// (the next frames differ strongly from the previous ones), which drives
// change detection exactly. Three controls (a slider, a check box and a
// menu) feed the camera's property dialog. The menu chooses the pattern:
// colour bars to look at, or a textured picture with sensor noise that
// encodes like a real camera's (see test_picture.h), for measurements.
#pragma once

#include "platform/clock.h"
#include "server/capture/capture_backend.h"
#include "server/capture/test_picture.h"

#include <memory>
#include <mutex>

namespace brindle {

inline constexpr char TEST_CAMERA_NAME[] = "Brindle Test Camera";
inline constexpr char TEST_CAMERA_PATH_PREFIX[] = "testcam:";

// Control ids of the test camera.
inline constexpr uint32_t TEST_CONTROL_BRIGHTNESS = 1; // slider 0-255, 128 = as drawn
inline constexpr uint32_t TEST_CONTROL_SHOW_TIME = 2;  // check box
inline constexpr uint32_t TEST_CONTROL_PATTERN = 3;    // menu: the TEST_PATTERN_* values

// Values of the pattern menu.
inline constexpr int32_t TEST_PATTERN_BARS = 0;
inline constexpr int32_t TEST_PATTERN_GRADIENT = 1;
inline constexpr int32_t TEST_PATTERN_CHECKER = 2;
inline constexpr int32_t TEST_PATTERN_TEXTURE = 3;

// What one test camera shows; shared by the backend and its running
// streams, safe to use from any thread.
class TestCameraScene {
  public:
    // `textures` holds the still parts of the textured picture; scenes of
    // one backend share it. Null makes a cache of the scene's own.
    explicit TestCameraScene(const Clock& clock,
                             std::shared_ptr<TexturePictureCache> textures = nullptr);

    // A frozen camera repeats the picture of the moment it froze (time text
    // included) until the scene changes.
    void Freeze(bool fFrozen);
    // Switches to another scene; scenes differ from each other everywhere.
    void SetScene(uint32_t nScene);
    void NextScene();

    std::vector<CaptureControl> Controls() const;
    uint32_t SetControl(uint32_t nId, int32_t nValue);

    // Draws the current picture into `frame` (bottom-up BGR, see
    // CaptureFrame).
    void Render(int32_t nWidth, int32_t nHeight, CaptureFrame& frame) const;

  private:
    struct State {
        bool fFrozen = false;
        uint32_t nScene = 0;
        uint32_t nPhase = 0; // pattern offset, from the tick while running
        SystemTime time{};
        int32_t nBrightness = 128;
        int32_t fShowTime = 1;
        int32_t nPattern = 0;
    };
    State Snapshot() const;
    void RenderPattern(const State& state, int32_t nWidth, int32_t nHeight,
                       CaptureFrame& frame) const;
    void RenderTextured(const State& state, int32_t nWidth, int32_t nHeight,
                        CaptureFrame& frame) const;

    const Clock& clock_;
    std::shared_ptr<TexturePictureCache> textures_;
    mutable std::mutex lock_;
    State state_;
};

class TestCameraBackend : public CaptureBackend {
  public:
    // nCount cameras, "testcam:0" to "testcam:<nCount - 1>", each showing
    // pattern nPattern (a TEST_PATTERN_* value; others mean bars) at first.
    explicit TestCameraBackend(int nCount, const Clock& clock = SystemClock(),
                               int32_t nPattern = TEST_PATTERN_BARS);

    int Count() const { return static_cast<int>(scenes_.size()); }
    TestCameraScene& Scene(int nIndex) { return *scenes_.at(static_cast<size_t>(nIndex)); }

    // 640x480, 1280x720 and 1920x1080 at 30 frames a second.
    static std::vector<CaptureFormat> Formats();

    uint32_t Enumerate(std::vector<CaptureDeviceInfo>& devices) override;
    bool Handles(const std::string& devicePath) const override;
    uint32_t Start(const std::string& devicePath, const CaptureFormat& wanted, bool fMatchInterval,
                   std::unique_ptr<CaptureStream>& stream, std::string& hint) override;
    uint32_t ListControls(const std::string& devicePath,
                          std::vector<CaptureControl>& controls) override;
    uint32_t SetControl(const std::string& devicePath, uint32_t nId, int32_t nValue) override;

  private:
    // Index of the camera a path names, or -1.
    int IndexOf(const std::string& devicePath) const;

    std::vector<std::shared_ptr<TestCameraScene>> scenes_;
};

} // namespace brindle
