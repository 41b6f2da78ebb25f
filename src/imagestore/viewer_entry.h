// The record of one camera's image viewer, in both programs.
//
// This is the image-list part: the capture-ordered keys of the camera's stored
// images and the state of the listing that fills them. The viewer window adds
// its own members (window, picture, mode, playback) here.
#pragma once

#include "common/unique_fd.h"
#include "imagestore/list_worker.h"

#include <cstdint>
#include <memory>

namespace brindle {

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

    // BrindleView sets this: the listing functions then write their
    // "ENTER {"/"LEAVE }" trace lines while the trace bit of "Debug" is set.
    bool fTrace = false;
};

} // namespace brindle
