// The record of one camera's image viewer, in both programs.
//
// It holds the capture-ordered keys of the camera's stored images with the
// state of the listing that fills them, and the viewer's own state: the
// picture shown, the mode, playback, zoom and brightness. The entry outlives
// its window; closing the window keeps everything here but the window.
#pragma once

#include "common/unique_fd.h"
#include "imagestore/list_worker.h"
#include "platform/clock.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace brindle {

// What the viewer shows: 0 live images, -1 stored images going backwards,
// 1 stored images going forwards or paused, 2 opening (the newest stored
// image is being found).
enum ViewerMode : int {
    VIEWER_LIVE = 0,
    VIEWER_BACKWARD = -1,
    VIEWER_FORWARD = 1,
    VIEWER_OPENING = 2
};

inline constexpr int VIEWER_BRIGHTNESS_MIN = 100;
inline constexpr int VIEWER_BRIGHTNESS_MAX = 2000;
inline constexpr int VIEWER_ZOOM_MIN = 100;
inline constexpr int VIEWER_ZOOM_MAX = 20000;

// A picture as 24-bit BGR rows, top row first, nStride bytes apart (3 x
// width rounded up to a multiple of 4). Empty (width 0) shows white.
struct ViewerPicture {
    std::vector<uint8_t> pixels;
    int32_t nWidth = 0;
    int32_t nHeight = 0;
    size_t nStride = 0;
};

// Scroll and pan state of a zoomed picture. Positions are fractions of the
// picture (0..1) of the visible part's top left corner.
struct ViewerViewState {
    double dScrollX = 0;
    double dScrollY = 0;
    bool fDragging = false;  // the left button went down inside the picture
    bool fDragMoved = false; // ... and moved past the drag threshold
    int nDragStartX = 0;
    int nDragStartY = 0;
    double dDragScrollX = 0;
    double dDragScrollY = 0;
};

struct ViewerEntry {
    // --- image list ---

    // Image keys in ascending order; room for nItemsRoom of them. The array
    // grows to what a listing estimates it needs and never shrinks.
    std::unique_ptr<uint64_t[]> pItems;
    int64_t nItemsRoom = 0;
    // Items [0, nValidCount) are valid.
    int64_t nValidCount = 0;
    // Where the next listed image goes. During a listing it may be below
    // nValidCount; a listing that ended with fewer items than the list holds
    // leaves it there, and no new listing starts until the daily reset.
    int64_t nWritePos = 0;
    // The image the viewer shows.
    int64_t nCurrentIndex = 0;

    // The running listing: the worker that writes the list file and removes
    // old day folders (none when idle), and the list file open for reading
    // with the offset of its first byte not yet taken into the list.
    std::unique_ptr<ListWorker> pListWorker;
    UniqueFd hListFile;
    int64_t nListReadPos = 0;
    // Why the last listing could not start (a system code), 0 once one has.
    uint32_t nListError = 0;

    // --- viewer ---

    int nMode = VIEWER_OPENING;
    // Tick at which the current playback step started; 0 while not playing.
    uint32_t nPlaying = 0;
    // Row of the speed table in force.
    int nSpeedIndex = 0;
    // Set while the right button holds "<<" or ">>", or Ctrl+Home / Ctrl+End act.
    bool fRewindHeld = false;
    bool fForwardHeld = false;
    int nBrightness = VIEWER_BRIGHTNESS_MIN; // percent
    int nZoom = VIEWER_ZOOM_MIN;             // percent
    ViewerViewState view;
    // Start of the date dialog; a year of 0 means never set.
    SystemTime targetTime{};
    bool fTopmost = true;
    bool fStatusBar = true;
    // The picture as decoded, before brightness; and the capture time of a
    // live picture (FILETIME, 0 for a stored one).
    ViewerPicture picture;
    uint64_t nLiveTime = 0;

    // BrindleView sets this: the listing functions then write their
    // "ENTER {"/"LEAVE }" trace lines while the trace bit of "Debug" is set.
    bool fTrace = false;
};

} // namespace brindle
