#include "imagestore/viewer/live_slot.h"

#include <utility>

namespace brindle {

void LiveFrameSlot::SetWanted(bool fWanted) {
    fWanted_.store(fWanted, std::memory_order_release);
    if (!fWanted) {
        std::lock_guard<std::mutex> guard(lock_);
        fFull_ = false;
    }
}

bool LiveFrameSlot::Offer(ViewerPicture&& picture, uint64_t nFileTime) {
    if (!Wanted())
        return false;
    std::lock_guard<std::mutex> guard(lock_);
    // The old buffer goes back to the producer through `picture`.
    std::swap(picture_, picture);
    nFileTime_ = nFileTime;
    fFull_ = true;
    return true;
}

bool LiveFrameSlot::Take(ViewerPicture& picture, uint64_t& nFileTime) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!fFull_)
        return false;
    std::swap(picture_, picture);
    nFileTime = nFileTime_;
    fFull_ = false;
    return true;
}

} // namespace brindle
