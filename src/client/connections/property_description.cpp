#include "client/connections/property_description.h"

#include "common/little_endian.h"
#include "common/text_utils.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <set>

namespace brindle {

namespace {

constexpr size_t DESCRIPTION_HEADER = 12;
constexpr size_t UPDATE_ITEM = 20;

// Reads forward through [pos, end); every read checks the room first.
class Reader {
  public:
    Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    bool Text(std::string& out) {
        const uint8_t* end = static_cast<const uint8_t*>(std::memchr(p_ + pos_, 0, n_ - pos_));
        if (end == nullptr)
            return false;
        size_t len = size_t(end - (p_ + pos_));
        out.assign(reinterpret_cast<const char*>(p_ + pos_), len);
        pos_ += len + 1;
        return true;
    }
    bool U32(uint32_t& v) {
        if (n_ - pos_ < 4)
            return false;
        v = LoadLe32(p_ + pos_);
        pos_ += 4;
        return true;
    }
    bool I32(int32_t& v) {
        uint32_t u = 0;
        bool ok = U32(u);
        v = static_cast<int32_t>(u);
        return ok;
    }
    bool U8(uint8_t& v) {
        if (pos_ >= n_)
            return false;
        v = p_[pos_++];
        return true;
    }
    bool AtEnd() const { return pos_ >= n_; }

  private:
    const uint8_t* p_;
    size_t n_;
    size_t pos_ = 0;
};

// Cut without splitting a UTF-8 character.
std::string Cut(std::string text) {
    if (text.size() <= REPLICA_TEXT_MAX)
        return text;
    size_t n = REPLICA_TEXT_MAX;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    text.resize(n);
    return text;
}

bool Contains(const std::string& className, const char* part) {
    std::string lower = className;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find(part) != std::string::npos;
}

bool ReadList(Reader& r, ReplicaControl& c) {
    for (;;) {
        std::string item;
        if (!r.Text(item))
            return false;
        if (item.empty())
            break;
        c.items.push_back(Cut(std::move(item)));
    }
    uint8_t nSelected = 0;
    if (!r.U8(nSelected))
        return false;
    c.nValue = nSelected == 255 ? -1 : nSelected;
    return true;
}

bool ReadKindData(Reader& r, ReplicaControl& c) {
    uint8_t b = 0;
    switch (c.nKind) {
    case REPLICA_KIND_BUTTON:
        if (!r.U8(b))
            return false;
        c.nValue = b != 0 ? 1 : 0;
        return true;
    case REPLICA_KIND_COMBO:
    case REPLICA_KIND_TAB:
        return ReadList(r, c);
    case REPLICA_KIND_SLIDER:
        return r.I32(c.nMinimum) && r.I32(c.nMaximum) && r.I32(c.nPage) && r.I32(c.nSelStart) &&
               r.I32(c.nSelEnd) && r.I32(c.nValue);
    case REPLICA_KIND_EDIT:
        c.nValue = static_cast<int32_t>(std::strtol(c.cText.c_str(), nullptr, 10));
        return true;
    default:
        return true;
    }
}

bool ReadRecord(Reader& r, ReplicaControl& c) {
    if (!r.Text(c.cText) || !r.Text(c.cClass))
        return false;
    c.cText = Cut(std::move(c.cText));
    c.cClass = Cut(std::move(c.cClass));
    for (int32_t& v : c.position)
        if (!r.I32(v))
            return false;
    for (int32_t& v : c.client)
        if (!r.I32(v))
            return false;
    return r.U32(c.nStyle) && r.U32(c.nExStyle) && r.U32(c.hParent) && r.U32(c.hWindow) &&
           r.U32(c.nIdentifier) && r.U8(c.nKind) && ReadKindData(r, c);
}

void ClampSize(ReplicaControl& c, int32_t nMaxWidth, int32_t nMaxHeight) {
    c.position[2] = std::clamp(c.position[2], 0, nMaxWidth);
    c.position[3] = std::clamp(c.position[3], 0, nMaxHeight);
}

// Links each record to its nearest earlier record of its parent handle,
// and checks handles and depth.
bool Link(std::vector<ReplicaControl>& controls, std::string& reason) {
    std::set<uint32_t> seen;
    std::vector<int> depth(controls.size(), 0);
    for (size_t i = 0; i < controls.size(); ++i) {
        ReplicaControl& c = controls[i];
        if (c.hWindow == 0 || !seen.insert(c.hWindow).second) {
            reason = "window handle repeated or zero";
            return false;
        }
        c.fDialog = c.hParent == 0;
        for (size_t j = i; j-- > 0;) {
            if (controls[j].hWindow == c.hParent && !c.fDialog) {
                c.nParent = controls[j].fDialog ? -1 : int(j);
                depth[i] = depth[j] + 1;
                break;
            }
        }
        if (!c.fDialog && c.nParent < 0)
            depth[i] = 1;
        if (depth[i] > REPLICA_DEPTH_MAX) {
            reason = "windows nested too deep";
            return false;
        }
    }
    return true;
}

} // namespace

uint8_t ReplicaKindOfClass(const std::string& className) {
    if (Contains(className, "button"))
        return REPLICA_KIND_BUTTON;
    if (Contains(className, "combo"))
        return REPLICA_KIND_COMBO;
    if (Contains(className, "edit"))
        return REPLICA_KIND_EDIT;
    if (Contains(className, "tabcontrol"))
        return REPLICA_KIND_TAB;
    if (Contains(className, "trackbar"))
        return REPLICA_KIND_SLIDER;
    return REPLICA_KIND_OTHER;
}

bool ParsePropertyDescription(std::span<const uint8_t> payload, int32_t nScreenWidth,
                              int32_t nScreenHeight, ReplicaDescription& out, std::string& reason) {
    out = ReplicaDescription{};
    if (payload.size() < DESCRIPTION_HEADER + 2) {
        reason = "description too short";
        return false;
    }
    out.nCamera = static_cast<int32_t>(LoadLe32(payload.data()));
    uint32_t nLength = LoadLe32(payload.data() + 8);
    if (nLength < 2 || nLength > payload.size() - DESCRIPTION_HEADER) {
        reason = "description length past the payload";
        return false;
    }
    uint16_t nCount = LoadLe16(payload.data() + DESCRIPTION_HEADER);
    Reader r(payload.data() + DESCRIPTION_HEADER + 2, nLength - 2);
    if (nCount == 0)
        return true;
    if (!r.Text(out.cFont)) {
        reason = "font text past the description";
        return false;
    }
    for (uint16_t i = 0; i < nCount && !r.AtEnd(); ++i) {
        ReplicaControl c;
        if (!ReadRecord(r, c)) {
            reason = "window record past the description";
            return false;
        }
        if (c.nKind != ReplicaKindOfClass(c.cClass)) {
            reason = "window kind against its class";
            return false;
        }
        if (c.hParent == 0)
            ClampSize(c, std::max(nScreenWidth, 0), std::max(nScreenHeight, 0));
        else
            ClampSize(c, REPLICA_SIZE_MAX, REPLICA_SIZE_MAX);
        out.controls.push_back(std::move(c));
    }
    if (!Link(out.controls, reason))
        return false;
    return true;
}

bool ParsePropertyUpdate(std::span<const uint8_t> payload, std::vector<ReplicaUpdateItem>& items) {
    items.clear();
    if (payload.size() < DESCRIPTION_HEADER)
        return false;
    uint32_t n = LoadLe32(payload.data() + 8);
    if (n > payload.size() - DESCRIPTION_HEADER)
        return false;
    for (size_t off = DESCRIPTION_HEADER; off + UPDATE_ITEM <= DESCRIPTION_HEADER + n;
         off += UPDATE_ITEM) {
        const uint8_t* p = payload.data() + off;
        ReplicaUpdateItem item;
        uint16_t nKind = LoadLe16(p);
        item.nKind = nKind > 255 ? 255 : static_cast<uint8_t>(nKind);
        item.nDecimals = std::min<int32_t>(LoadLe16(p + 2), REPLICA_DECIMALS_MAX);
        item.hWindow = LoadLe32(p + 4);
        item.nStyle = LoadLe32(p + 8);
        item.nExStyle = LoadLe32(p + 12);
        item.nValue = static_cast<int32_t>(LoadLe32(p + 16));
        items.push_back(item);
    }
    return true;
}

std::string DecimalText(int32_t nValue, int32_t nDecimals) {
    nDecimals = std::clamp(nDecimals, 0, REPLICA_DECIMALS_MAX);
    int64_t v = nValue;
    std::string digits = std::to_string(v < 0 ? -v : v);
    if (nDecimals == 0)
        return std::to_string(v);
    if (digits.size() <= size_t(nDecimals))
        digits.insert(0, size_t(nDecimals) + 1 - digits.size(), '0');
    digits.insert(digits.size() - size_t(nDecimals), ".");
    return (v < 0 ? "-" : "") + digits;
}

namespace {

bool IsStaticWindow(const ReplicaControl& c) {
    return c.nKind == REPLICA_KIND_OTHER && EqualNoCase(c.cClass, "Static");
}

} // namespace

std::string ReplicaLabel(const ReplicaDescription& description, size_t nIndex) {
    const std::vector<ReplicaControl>& all = description.controls;
    if (nIndex >= all.size())
        return {};
    const ReplicaControl& c = all[nIndex];
    if (c.nKind == REPLICA_KIND_BUTTON ||
        (c.nKind == REPLICA_KIND_OTHER && c.cClass == "#32770" && !c.fDialog))
        return c.cText;
    const int32_t nTop = c.position[1], nBottom = c.position[1] + c.position[3];
    const ReplicaControl* best = nullptr;
    for (const ReplicaControl& s : all) {
        if (!IsStaticWindow(s) || s.nParent != c.nParent || s.position[0] >= c.position[0])
            continue;
        bool fSameRow = s.position[1] < nBottom && s.position[1] + s.position[3] > nTop;
        if (fSameRow && (best == nullptr || s.position[0] > best->position[0]))
            best = &s;
    }
    return best != nullptr ? best->cText : std::string();
}

} // namespace brindle
