// The hand-over of live pictures to an open viewer.
//
// The producer (BrindleHost's frame cycle, BrindleView's server connection)
// offers each new picture from its own thread; the viewer takes the newest
// on its timer. A picture offered while the viewer does not want live
// pictures (it shows stored images) is dropped at once.
#pragma once

#include "imagestore/viewer_entry.h"

#include <atomic>
#include <mutex>

namespace brindle {

class LiveFrameSlot {
  public:
    // True while the viewer shows live pictures; a producer may skip
    // preparing a picture while this is false.
    bool Wanted() const { return fWanted_.load(std::memory_order_acquire); }
    void SetWanted(bool fWanted);

    // Any thread. `picture` holds 24-bit BGR rows top-down; BrindleHost
    // offers the stamped picture, so that brightening and copying keep the
    // stamp. `nFileTime` is the capture time (FILETIME of local time).
    // Returns false when the picture was dropped.
    bool Offer(ViewerPicture&& picture, uint64_t nFileTime);

    // The viewer's thread: takes the newest picture offered since the last
    // call; false when there is none.
    bool Take(ViewerPicture& picture, uint64_t& nFileTime);

  private:
    std::atomic<bool> fWanted_{false};
    std::mutex lock_;
    bool fFull_ = false;
    ViewerPicture picture_;
    uint64_t nFileTime_ = 0;
};

} // namespace brindle
