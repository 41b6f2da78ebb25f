#include "server/connections/image_batch.h"

#include "common/little_endian.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace brindle {

namespace {

void WriteRecordHeader(uint8_t* p, const SendQueueEntry& entry, const CameraCounts& counts) {
    StoreLe64(p, entry.ftCapture);
    StoreLe32(p + 8, static_cast<uint32_t>(entry.nCamera + 1));
    StoreLe32(p + 12, static_cast<uint32_t>(entry.jpeg.size()));
    StoreLe32(p + 16, counts.nPending);
    StoreLe32(p + 20, counts.nDropped);
}

} // namespace

void TakeImageBatch(ServerShared& shared, ImageBatch& batch) {
    // The last batch has gone out (a failed one was put back): its buffers
    // serve the next images.
    for (SendQueueEntry& sent : batch.entries)
        shared.RecycleBuffer(std::move(sent.jpeg));
    batch.entries.clear();
    batch.headers.clear();
    batch.nBytes = 0;
    for (CameraCounts& counts : shared.counts)
        counts.nPending = counts.nSent;
    try {
        batch.entries.reserve(shared.queue.Count());
        batch.headers.reserve(IMAGE_BATCH_HEADER + shared.queue.Count() * IMAGE_RECORD_HEADER);
    } catch (const std::bad_alloc&) {
        return;
    }
    size_t nJpegBytes = 0;
    SendQueueEntry entry;
    while (nJpegBytes <= IMAGE_BATCH_LIMIT && shared.queue.TakeHead(entry)) {
        nJpegBytes += entry.jpeg.size();
        batch.entries.push_back(std::move(entry)); // within the reserved room
    }
    if (batch.entries.empty())
        return;
    // Within the reserved room as well.
    batch.headers.resize(IMAGE_BATCH_HEADER + batch.entries.size() * IMAGE_RECORD_HEADER);
    StoreLe32(batch.headers.data(), static_cast<uint32_t>(batch.entries.size()));
    StoreLe32(batch.headers.data() + 4, 0);
    uint8_t* p = batch.headers.data() + IMAGE_BATCH_HEADER;
    CameraCounts none;
    for (const SendQueueEntry& taken : batch.entries) {
        CameraCounts* counts = &none;
        if (taken.nCamera >= 0 && static_cast<size_t>(taken.nCamera) < shared.counts.size())
            counts = &shared.counts[static_cast<size_t>(taken.nCamera)];
        ++counts->nPending;
        WriteRecordHeader(p, taken, *counts);
        p += IMAGE_RECORD_HEADER;
    }
    batch.nBytes = batch.headers.size() + nJpegBytes;
}

std::span<const uint8_t> ImageBatchReader::Part(size_t nPart) const {
    if (nPart == 0)
        return std::span<const uint8_t>(batch_.headers).first(IMAGE_BATCH_HEADER);
    size_t nImage = (nPart - 1) / 2;
    if ((nPart - 1) % 2 == 0)
        return std::span<const uint8_t>(batch_.headers)
            .subspan(IMAGE_BATCH_HEADER + nImage * IMAGE_RECORD_HEADER, IMAGE_RECORD_HEADER);
    return batch_.entries[nImage].jpeg;
}

size_t ImageBatchReader::Take(size_t n, std::vector<std::span<const uint8_t>>& parts) {
    const size_t nParts = batch_.entries.empty() ? 0 : 1 + 2 * batch_.entries.size();
    size_t nTaken = 0;
    while (nTaken < n && nPart_ < nParts) {
        std::span<const uint8_t> part = Part(nPart_);
        size_t nTake = std::min(n - nTaken, part.size() - nOffset_);
        if (nTake > 0)
            parts.push_back(part.subspan(nOffset_, nTake));
        nTaken += nTake;
        nOffset_ += nTake;
        if (nOffset_ == part.size()) {
            ++nPart_;
            nOffset_ = 0;
        }
    }
    return nTaken;
}

size_t ImageBatchReader::Read(uint8_t* out, size_t n) {
    std::vector<std::span<const uint8_t>> parts;
    size_t nTaken = Take(n, parts);
    for (std::span<const uint8_t> part : parts) {
        std::memcpy(out, part.data(), part.size());
        out += part.size();
    }
    return nTaken;
}

} // namespace brindle
