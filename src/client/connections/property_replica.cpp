#include "client/connections/property_replica.h"

#include "common/little_endian.h"

namespace brindle {

namespace {

constexpr uint32_t KIND_DESCRIPTION = 0, KIND_UPDATE = 1, KIND_CLOSED = 2;
constexpr int32_t OP_CLICK = 3, OP_SELECT = 4, OP_TAB = 5, OP_SLIDER = 6;

} // namespace

void PropertyReplica::Open(const void* server, bool fStorageLinked, int32_t nScreenWidth,
                           int32_t nScreenHeight) {
    Close();
    server_ = server;
    fStorageLinked_ = fStorageLinked;
    nScreenWidth_ = nScreenWidth;
    nScreenHeight_ = nScreenHeight;
}

void PropertyReplica::Close() {
    SetBusy(false);
    server_ = nullptr;
    description_ = ReplicaDescription{};
    settling_.reset();
    waiting_.reset();
}

void PropertyReplica::ServerGone(const void* server) {
    if (server_ == nullptr || server != server_)
        return;
    host_.CloseDialog();
    Close();
}

const ReplicaControl* PropertyReplica::Control(size_t nIndex) const {
    return nIndex < description_.controls.size() ? &description_.controls[nIndex] : nullptr;
}

void PropertyReplica::Packet(const void* server, std::span<const uint8_t> payload) {
    if (server_ == nullptr || server != server_ || payload.size() < 12)
        return;
    switch (LoadLe32(payload.data() + 4)) {
    case KIND_DESCRIPTION:
        Describe(payload);
        break;
    case KIND_UPDATE:
        if (!description_.controls.empty() &&
            static_cast<int32_t>(LoadLe32(payload.data())) == description_.nCamera)
            Update(payload);
        break;
    case KIND_CLOSED:
        if (static_cast<int32_t>(LoadLe32(payload.data())) == description_.nCamera) {
            host_.CloseDialog();
            Close();
        }
        break;
    default:
        break;
    }
}

void PropertyReplica::Describe(std::span<const uint8_t> payload) {
    settling_.reset();
    waiting_.reset();
    SetBusy(false);
    std::string reason;
    if (!ParsePropertyDescription(payload, nScreenWidth_, nScreenHeight_, description_, reason)) {
        description_ = ReplicaDescription{};
        host_.Refused(reason);
    }
    host_.Build();
    // Selecting the described tab as a click would: the server's pages
    // follow the tab the replica shows.
    for (size_t i = 0; i < description_.controls.size(); ++i) {
        const ReplicaControl& c = description_.controls[i];
        if (c.nKind == REPLICA_KIND_TAB && c.nValue >= 0 && size_t(c.nValue) < c.items.size()) {
            Offer(Operation{i, OP_TAB, REPLICA_TCN_SELCHANGE, c.nValue});
            break;
        }
    }
}

void PropertyReplica::Update(std::span<const uint8_t> payload) {
    std::vector<ReplicaUpdateItem> items;
    if (!ParsePropertyUpdate(payload, items))
        return;
    for (const ReplicaUpdateItem& item : items) {
        for (size_t i = 0; i < description_.controls.size(); ++i) {
            ReplicaControl& c = description_.controls[i];
            if (c.fDialog || c.nKind != item.nKind || c.hWindow != item.hWindow)
                continue;
            c.nStyle = item.nStyle;
            c.nExStyle = item.nExStyle;
            if (c.nKind != REPLICA_KIND_OTHER)
                c.nValue = item.nValue;
            if (c.nKind == REPLICA_KIND_EDIT) {
                c.nDecimals = item.nDecimals;
                c.cText = DecimalText(item.nValue, item.nDecimals);
            }
            host_.ControlChanged(i);
        }
    }
    SetBusy(false);
}

void PropertyReplica::UserClick(size_t nIndex) {
    const ReplicaControl* c = Control(nIndex);
    if (c != nullptr && c->nKind == REPLICA_KIND_BUTTON)
        Offer(Operation{nIndex, OP_CLICK, 0, 0});
}

void PropertyReplica::UserSelect(size_t nIndex, int32_t nEntry) {
    const ReplicaControl* c = Control(nIndex);
    if (c != nullptr && c->nKind == REPLICA_KIND_COMBO)
        Offer(Operation{nIndex, OP_SELECT, 1, nEntry});
}

void PropertyReplica::UserTab(size_t nIndex, int32_t nTab) {
    const ReplicaControl* c = Control(nIndex);
    if (c != nullptr && c->nKind == REPLICA_KIND_TAB)
        Offer(Operation{nIndex, OP_TAB, REPLICA_TCN_SELCHANGE, nTab});
}

void PropertyReplica::UserSlider(size_t nIndex, int32_t nPosition, int32_t nCode) {
    const ReplicaControl* c = Control(nIndex);
    if (c == nullptr || c->nKind != REPLICA_KIND_SLIDER || nPosition == c->nValue)
        return;
    Operation op{nIndex, OP_SLIDER, nCode, nPosition};
    // A drag while a request waits is put back at once, without waiting.
    if (nCode == REPLICA_TB_THUMBTRACK && !host_.RequestSlotFree(server_)) {
        host_.ControlChanged(nIndex);
        return;
    }
    Offer(op);
}

// An action is accepted once the previous request has been taken; until
// then it waits (on the timer) up to 10 s.
void PropertyReplica::Offer(const Operation& op) {
    if (host_.RequestSlotFree(server_) && !waiting_) {
        Accept(op);
        return;
    }
    if (waiting_ && waiting_->nIndex != op.nIndex)
        host_.ControlChanged(waiting_->nIndex);
    if (!waiting_)
        nWaitStart_ = clock_.Tick();
    waiting_ = op;
}

// Restarting the settling time lets quick successive moves send only the
// last one.
void PropertyReplica::Accept(const Operation& op) {
    settling_ = op;
    nSettleStart_ = clock_.Tick();
    nSettleWait_ = op.nKind == OP_SLIDER ? REPLICA_SLIDER_SETTLE_MS : REPLICA_SETTLE_MS;
}

void PropertyReplica::GiveUp(const Operation& op) {
    host_.ControlChanged(op.nIndex);
    if (op.nKind != OP_SLIDER) {
        host_.CloseDialog();
        Close();
    }
}

void PropertyReplica::SendPending() {
    Operation op = *settling_;
    settling_.reset();
    const ReplicaControl& c = description_.controls[op.nIndex];
    // The log line names the button, the entry or tab chosen, or the
    // slider's label.
    std::string cText = c.cText;
    if (op.nKind == OP_SELECT || op.nKind == OP_TAB)
        cText = op.nValue >= 0 && size_t(op.nValue) < c.items.size() ? c.items[size_t(op.nValue)]
                                                                     : std::string();
    else if (op.nKind == OP_SLIDER)
        cText = ReplicaLabel(description_, op.nIndex);
    host_.PostRequest(server_, description_.nCamera, op.nKind, c.nKind, c.hWindow, op.nCode,
                      op.nValue, cText);
    if (fStorageLinked_)
        SetBusy(true);
}

void PropertyReplica::SetBusy(bool fBusy) {
    if (fBusy == fBusy_)
        return;
    fBusy_ = fBusy;
    nBusyStart_ = clock_.Tick();
    host_.ShowBusy(fBusy);
}

bool PropertyReplica::Due(uint32_t nStart, uint32_t nWait) const {
    return clock_.Tick() - nStart >= nWait;
}

void PropertyReplica::Tick() {
    if (server_ == nullptr)
        return;
    if (waiting_) {
        if (host_.RequestSlotFree(server_)) {
            Operation op = *waiting_;
            waiting_.reset();
            Accept(op);
        } else if (Due(nWaitStart_, REPLICA_SLOT_WAIT_MS)) {
            Operation op = *waiting_;
            waiting_.reset();
            GiveUp(op);
            if (server_ == nullptr)
                return;
        }
    }
    if (settling_ && Due(nSettleStart_, nSettleWait_))
        SendPending();
    if (fBusy_ && Due(nBusyStart_, REPLICA_BUSY_LIMIT_MS))
        SetBusy(false);
}

std::optional<uint32_t> PropertyReplica::NextDue() const {
    std::optional<uint32_t> next;
    auto consider = [&](uint32_t nStart, uint32_t nWait) {
        uint32_t nPassed = clock_.Tick() - nStart;
        uint32_t nLeft = nPassed >= nWait ? 0 : nWait - nPassed;
        if (!next || nLeft < *next)
            next = nLeft;
    };
    // The slot is looked at every 10 ms from now: measured from the start of
    // the wait, every look after the first would be due at once.
    if (waiting_)
        next = REPLICA_SLOT_LOOK_MS;
    if (settling_)
        consider(nSettleStart_, nSettleWait_);
    if (fBusy_)
        consider(nBusyStart_, REPLICA_BUSY_LIMIT_MS);
    return next;
}

} // namespace brindle
