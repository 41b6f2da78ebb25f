#include "server/connections/image_batch.h"

#include "server/connections/wire.h"

#include <cstring>
#include <new>

namespace brindle {

namespace {

void WriteRecord(uint8_t* p, const SendQueueEntry& entry, const CameraCounts& counts) {
    wire::Store64(p, entry.ftCapture);
    wire::Store32(p + 8, static_cast<uint32_t>(entry.nCamera + 1));
    wire::Store32(p + 12, static_cast<uint32_t>(entry.jpeg.size()));
    wire::Store32(p + 16, counts.nPending);
    wire::Store32(p + 20, counts.nDropped);
    if (!entry.jpeg.empty())
        std::memcpy(p + IMAGE_RECORD_HEADER, entry.jpeg.data(), entry.jpeg.size());
}

} // namespace

void TakeImageBatch(ServerShared& shared, ImageBatch& batch) {
    batch.entries.clear();
    batch.bytes.clear();
    for (CameraCounts& counts : shared.counts)
        counts.nPending = counts.nSent;
    try {
        batch.entries.reserve(shared.queue.Count());
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
    try {
        batch.bytes.resize(IMAGE_BATCH_HEADER + batch.entries.size() * IMAGE_RECORD_HEADER +
                           nJpegBytes);
    } catch (const std::bad_alloc&) {
        // Nothing was queued meanwhile (the lock is held), so all fit back.
        shared.PutBackAtHead(std::move(batch.entries));
        batch.entries.clear();
        return;
    }
    wire::Store32(batch.bytes.data(), static_cast<uint32_t>(batch.entries.size()));
    wire::Store32(batch.bytes.data() + 4, 0);
    uint8_t* p = batch.bytes.data() + IMAGE_BATCH_HEADER;
    CameraCounts none;
    for (const SendQueueEntry& taken : batch.entries) {
        CameraCounts* counts = &none;
        if (taken.nCamera >= 0 && static_cast<size_t>(taken.nCamera) < shared.counts.size())
            counts = &shared.counts[static_cast<size_t>(taken.nCamera)];
        ++counts->nPending;
        WriteRecord(p, taken, *counts);
        p += IMAGE_RECORD_HEADER + taken.jpeg.size();
    }
}

} // namespace brindle
