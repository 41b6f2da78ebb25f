// Image batches: what the connection thread takes from the image queue and
// sends as PT_IMAGE pieces.
//
// Batch layout: +0 number of images k, +4 not used, then k records of
// +0 capture FILETIME (8), +8 camera number from 1, +12 JPEG length m,
// +16 the camera's sent count (this image included), +20 its dropped count,
// +24 m bytes of JPEG.
#pragma once

#include "server/capture/send_queue.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace brindle {

// A batch stops taking images once their sum exceeds this (the image that
// crosses it is taken too).
inline constexpr size_t IMAGE_BATCH_LIMIT = 1000000;
inline constexpr size_t IMAGE_BATCH_HEADER = 8;
inline constexpr size_t IMAGE_RECORD_HEADER = 24;

// Image piece payload: +0 piece number from 1, +4 pieces, +8 chunk length n,
// +12 8 bytes not used, +20 n bytes; handed over as n + 23 bytes.
inline constexpr size_t IMAGE_PIECE_HEADER = 20;
inline constexpr uint32_t IMAGE_PIECE_EXTRA = 23;
// The chunk is the packet size limit less this.
inline constexpr uint32_t IMAGE_PIECE_OVERHEAD = 55;

// A batch taken from the queue. Its bytes are never put together in one
// buffer: the JPEGs stay in the queue entries, and each piece copies its
// share straight from there (ImageBatchReader), so every byte is copied
// once on its way to the socket, and not while the main lock is held.
struct ImageBatch {
    std::vector<SendQueueEntry> entries; // the images taken, oldest first
    std::vector<uint8_t> headers;        // the batch header, then each image's record header
    size_t nBytes = 0;                   // the size of the batch as it travels
};

// Takes images from the head of the queue and builds the batch's headers;
// counts each image into its camera's pending sent count (which starts from
// the shown count). The caller holds the main lock. When memory for the
// batch cannot be had, nothing is taken and the batch stays empty.
void TakeImageBatch(ServerShared& shared, ImageBatch& batch);

// Reads the bytes of a batch as it travels, from the front. The batch must
// outlive the reader and stay unchanged.
class ImageBatchReader {
  public:
    explicit ImageBatchReader(const ImageBatch& batch) : batch_(batch) {}

    // Appends to `parts` the stretches of memory that hold the next n bytes
    // (they point into the batch); past the end of the batch there are no
    // more. Returns the bytes they hold.
    size_t Take(size_t n, std::vector<std::span<const uint8_t>>& parts);

    // The same bytes copied to `out`.
    size_t Read(uint8_t* out, size_t n);

  private:
    // Part 0 is the batch header; then each image has two parts, its
    // record header and its JPEG.
    std::span<const uint8_t> Part(size_t nPart) const;

    const ImageBatch& batch_;
    size_t nPart_ = 0;
    size_t nOffset_ = 0; // within the part
};

// The pieces a batch of nBytes travels in with chunks of nChunk bytes.
inline size_t ImagePieceCount(size_t nBytes, size_t nChunk) {
    return nBytes == 0 ? 1 : (nBytes + nChunk - 1) / nChunk;
}

} // namespace brindle
