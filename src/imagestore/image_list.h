// A camera's image list: listing its stored images into the viewer entry,
// removing day folders past the retention period, and stepping through the
// list in time.
//
// All of these run on the thread that owns the entry (the GUI thread). The
// listing itself runs on a worker thread owned by the entry; the functions
// here never wait for it.
#pragma once

#include "imagestore/image_path.h"
#include "imagestore/navigation.h"
#include "imagestore/viewer_entry.h"
#include "platform/clock.h"

#include <cstdint>
#include <string>

namespace brindle {

// Continues a running listing, or starts one when none runs and the last one
// completed. A new listing lists the day of the last item again and every
// later day, and removes the day folders older than the retention period
// `nDays` counted back from the clock's local date (0 removes nothing).
// The list file is the camera folder path with ".lst" appended. Returns the
// valid count. A listing that cannot be started leaves the list as it is.
int64_t ListFiles(ViewerEntry& entry, const ImageTree& tree, int nDays,
                  const Clock& clock = SystemClock());

// Takes what the running listing has written so far into the list. Returns
// the valid count.
int64_t ListFilesSub(ViewerEntry& entry);

// Steps the current index by `offset` 100 ns units (see FindSkipIndex) and
// returns the new current index; an empty list leaves it unchanged.
int64_t SkipImageIndex(ViewerEntry& entry, int64_t offset);

// The path of item `index` for loading. ERROR_INVALID_PARAMETER_CODE when the
// index is not a valid item or the tree has unsafe names.
uint32_t LoadImagePath(const ViewerEntry& entry, const ImageTree& tree, int64_t index,
                       std::string& path);

// The daily reset: the valid count and the write position go back to 0 so
// that the next listing rebuilds the whole list. A listing still being read
// is dropped (its worker finishes its cleanup on its own).
void ResetDailyListing(ViewerEntry& entry);

// What the programs' timers do for every camera: after a new date reset the
// list, after a new hour (or date) call ListFiles. Returns the valid count.
int64_t RunListingTick(ViewerEntry& entry, ListingTick tick, const ImageTree& tree, int nDays,
                       const Clock& clock = SystemClock());

// True while a listing is being read or its worker still runs.
bool IsListing(const ViewerEntry& entry);

} // namespace brindle
