#include "server/capture/send_queue.h"

#include "common/log.h"
#include "platform/clock.h"

#include <algorithm>
#include <utility>

namespace brindle {

SendQueue::SendQueue(uint32_t nCapacity) {
    if (nCapacity < 1)
        nCapacity = 1;
    if (nCapacity > SEND_QUEUE_MAX_CAPACITY)
        nCapacity = SEND_QUEUE_MAX_CAPACITY;
    slots_.resize(nCapacity);
}

const SendQueueEntry* SendQueue::Head() const {
    return nCount_ == 0 ? nullptr : &slots_[nRead_];
}

bool SendQueue::TakeHead(SendQueueEntry& entry) {
    if (nCount_ == 0)
        return false;
    entry = PopHead();
    return true;
}

SendQueueEntry SendQueue::PopHead() {
    SendQueueEntry entry = std::move(slots_[nRead_]);
    slots_[nRead_] = SendQueueEntry{};
    nRead_ = (nRead_ + 1) % Capacity();
    --nCount_;
    return entry;
}

void SendQueue::PushTail(SendQueueEntry&& entry) {
    slots_[nWrite_] = std::move(entry);
    nWrite_ = (nWrite_ + 1) % Capacity();
    ++nCount_;
}

void SendQueue::PushHead(SendQueueEntry&& entry) {
    nRead_ = (nRead_ + Capacity() - 1) % Capacity();
    slots_[nRead_] = std::move(entry);
    ++nCount_;
}

void ServerShared::SetCameras(const std::vector<std::string>& names) {
    cameraNames = names;
    counts.resize(names.size());
}

void ServerShared::DropImage(const SendQueueEntry& entry) {
    SystemTime time = FileTimeToSystemTime(entry.ftCapture);
    const char* pcName = "";
    if (entry.nCamera >= 0 && static_cast<size_t>(entry.nCamera) < cameraNames.size())
        pcName = cameraNames[static_cast<size_t>(entry.nCamera)].c_str();
    LogWrite("カメラ%sの画像(%02hu:%02hu:%02hu)通信帯域不足のため送信中止\r\n", pcName, time.wHour,
             time.wMinute, time.wSecond);
    if (entry.nCamera >= 0 && static_cast<size_t>(entry.nCamera) < counts.size()) {
        uint32_t nDropped = ++counts[static_cast<size_t>(entry.nCamera)].nDropped;
        if (dropObserver != nullptr)
            dropObserver->ImageDropped(entry.nCamera, nDropped);
    }
}

void ServerShared::AppendImage(SendQueueEntry&& entry) {
    if (queue.Count() == queue.Capacity())
        DropImage(queue.PopHead());
    queue.PushTail(std::move(entry));
}

std::vector<uint8_t> ServerShared::TakeSpareBuffer() {
    if (spareBuffers_.empty())
        return {};
    std::vector<uint8_t> buffer = std::move(spareBuffers_.back());
    spareBuffers_.pop_back();
    return buffer;
}

void ServerShared::RecycleBuffer(std::vector<uint8_t>&& buffer) {
    if (buffer.capacity() == 0 || spareBuffers_.size() >= std::max<size_t>(4, 2 * counts.size()))
        return;
    buffer.clear();
    spareBuffers_.push_back(std::move(buffer));
}

void ServerShared::PutBackAtHead(std::vector<SendQueueEntry>&& batch) {
    // The batch is older than anything queued meanwhile, so its first
    // images are the oldest of all and go first when room is short.
    size_t nRoom = queue.Capacity() - queue.Count();
    size_t nDrop = batch.size() > nRoom ? batch.size() - nRoom : 0;
    for (size_t i = 0; i < nDrop; ++i)
        DropImage(batch[i]);
    for (size_t i = batch.size(); i > nDrop; --i)
        queue.PushHead(std::move(batch[i - 1]));
    batch.clear();
}

} // namespace brindle
