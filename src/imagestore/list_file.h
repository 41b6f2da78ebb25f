// Reading the list file that a listing writes: one full image path per line,
// lines ending in CR LF, in capture order.
#pragma once

#include "imagestore/viewer_entry.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace brindle {

// Bytes read from the list file at a time. A line must fit in it whole; any
// image path does (paths are at most 4096 bytes), so a longer line is taken as
// one that does not parse.
inline constexpr size_t LIST_READ_BUFFER = 64 * 1024;

// Parses one line without its CR LF: "<anything>/yyyymmdd/hhmmss-mmm.jpg".
// Only the last two levels count. Returns false, with `key` untouched, for any
// other form and for dates and times that do not exist.
bool ParseListLine(std::string_view line, uint64_t& key);

// Makes room for at least `count` items, growing by a quarter at least so that
// a list read in many small steps is not copied over and over. False when the
// memory cannot be had (the list stays as it was).
bool ReserveItems(ViewerEntry& entry, int64_t count);

// Stores one listed key at the write position: an equal key already there is
// left alone; a different one lowers the valid count to the write position
// first. The caller has made room.
void StoreListedKey(ViewerEntry& entry, uint64_t key);

struct ListParseResult {
    size_t nConsumed = 0; // bytes of complete lines taken from the front
    bool fEnded = false;  // a line did not parse, or room could not be made
};

// Takes the complete lines at the front of `bytes` into the list; an
// incomplete last line is left for later. `bytesToCome` is the number of
// bytes from the front of `bytes` to the end of the list file as far as it is
// known; the first line of a call estimates from it how many lines follow.
// `fEstimated` carries whether that estimate was made in this call.
ListParseResult ParseListLines(ViewerEntry& entry, std::string_view bytes, uint64_t bytesToCome,
                               bool& fEstimated);

struct ListReadResult {
    bool fEnded = false; // the listing ends here: a line did not parse, or a read failed
    bool fAtEnd = false; // every byte in the file is taken, nothing left over
};

// Reads what is in entry.hListFile from entry.nListReadPos on, takes every
// complete line into the list, moves nListReadPos past them and raises the
// valid count to the write position.
ListReadResult ReadListFile(ViewerEntry& entry);

} // namespace brindle
