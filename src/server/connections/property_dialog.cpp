// Describing the dialog, replaying commands on it and tracking its changes.
#include "server/connections/property_dialog.h"

#include "common/font_text.h"
#include "common/little_endian.h"
#include "server/capture/camera_control.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace brindle {

namespace {

// The font the dialog's texts are shown in.
std::string DialogFontText() {
    LogFont font;
    font.lfHeight = -12;
    font.lfWeight = 400;
    font.lfCharSet = 1;
    std::strcpy(font.lfFaceName, "Sans Serif");
    return FontToText(font);
}

// Cut to PROPERTY_TEXT_MAX bytes without splitting a UTF-8 character.
std::string CutText(const std::string& text) {
    if (text.size() <= PROPERTY_TEXT_MAX)
        return text;
    size_t n = PROPERTY_TEXT_MAX;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return text.substr(0, n);
}

void PutText(std::vector<uint8_t>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    StoreLe32(b, v);
    out.insert(out.end(), b, b + 4);
}

uint8_t IndexByte(int32_t nIndex) {
    return nIndex < 0 || nIndex >= PROPERTY_INDEX_NONE_BYTE ? PROPERTY_INDEX_NONE_BYTE
                                                            : static_cast<uint8_t>(nIndex);
}

// One window record; sets fInexact when its selected index does not fit
// its byte.
std::vector<uint8_t> WindowRecord(const PropertyWindow& w, bool& fInexact) {
    std::vector<uint8_t> r;
    PutText(r, CutText(w.cText));
    PutText(r, CutText(w.cClass));
    for (int32_t v : w.position)
        Put32(r, static_cast<uint32_t>(v));
    for (int32_t v : w.client)
        Put32(r, static_cast<uint32_t>(v));
    for (uint32_t v : {w.nStyle, w.nExStyle, w.hParent, w.hWindow, w.nIdentifier})
        Put32(r, v);
    r.push_back(w.nKind);
    switch (w.nKind) {
    case PROPERTY_KIND_BUTTON:
        r.push_back(w.nValue != 0 ? 1 : 0);
        break;
    case PROPERTY_KIND_COMBO:
    case PROPERTY_KIND_TAB:
        for (const std::string& item : w.items)
            PutText(r, item.empty() ? std::string("?") : CutText(item));
        r.push_back(0);
        r.push_back(IndexByte(w.nValue));
        fInexact = w.nValue >= PROPERTY_INDEX_NONE_BYTE;
        break;
    case PROPERTY_KIND_SLIDER:
        for (int32_t v : {w.nMinimum, w.nMaximum, w.nPage, 0, 0, w.nValue})
            Put32(r, static_cast<uint32_t>(v));
        break;
    default:
        break;
    }
    return r;
}

} // namespace

const PropertyWindow* PropertyDialog::Find(uint32_t hWindow) const {
    for (const PropertyWindow& window : windows_) {
        if (window.hWindow == hWindow && hWindow != 0)
            return &window;
    }
    return nullptr;
}

PropertyWindow* PropertyDialog::FindMutable(uint32_t hWindow, uint8_t nKind) {
    for (PropertyWindow& window : windows_) {
        if (window.hWindow == hWindow && hWindow != 0 && window.hParent != 0)
            return window.nKind == nKind && (window.nStyle & WS_DISABLED) == 0 ? &window : nullptr;
    }
    return nullptr;
}

std::vector<uint8_t> PropertyDialog::Describe(uint32_t nPacketMax, bool& fFollowUp) {
    fFollowUp = false;
    // L + 291 stays within the packet, so L has this much room.
    const size_t nRoom =
        nPacketMax > PROPERTY_DECLARED_EXTRA ? nPacketMax - PROPERTY_DECLARED_EXTRA : 0;
    std::vector<uint8_t> body(2, 0);
    PutText(body, DialogFontText());
    uint16_t nCount = 0;
    size_t nDescribed = 0;
    for (const PropertyWindow& window : windows_) {
        bool fInexact = false;
        std::vector<uint8_t> record = WindowRecord(window, fInexact);
        if (body.size() + record.size() > nRoom || nCount == UINT16_MAX)
            break;
        body.insert(body.end(), record.begin(), record.end());
        ++nCount;
        ++nDescribed;
        fFollowUp = fFollowUp || fInexact;
    }
    if (body.size() > nRoom) // not even the font fits: the empty description
        body.assign(2, 0), nCount = 0, nDescribed = 0;
    StoreLe16(body.data(), nCount);
    windows_.resize(nDescribed);
    for (PropertyWindow& window : windows_) {
        window.fTracked = window.hParent != 0;
        window.fChanged =
            window.fTracked &&
            (window.nKind == PROPERTY_KIND_COMBO || window.nKind == PROPERTY_KIND_TAB) &&
            window.nValue >= PROPERTY_INDEX_NONE_BYTE;
    }
    std::vector<uint8_t> reply(body.size() + PROPERTY_DECLARED_EXTRA, 0);
    StoreLe32(reply.data(), static_cast<uint32_t>(nCamera_));
    StoreLe32(reply.data() + 8, static_cast<uint32_t>(body.size()));
    std::copy(body.begin(), body.end(), reply.begin() + PROPERTY_DESCRIPTION_HEADER);
    return reply;
}

bool PropertyDialog::Replay(std::span<const uint8_t> payload, CameraControls& device) {
    if (payload.size() < PROPERTY_COMMAND_MIN)
        return false;
    if (static_cast<int32_t>(LoadLe32(payload.data())) != nCamera_)
        return false;
    uint32_t nCommand = LoadLe32(payload.data() + 4);
    uint32_t hWindow = LoadLe32(payload.data() + 16);
    int32_t nOperand = static_cast<int32_t>(LoadLe32(payload.data() + 28));
    switch (nCommand) {
    case PROPERTY_CLICK:
        return Click(hWindow, device);
    case PROPERTY_SELECT:
        return SelectEntry(hWindow, nOperand, device);
    case PROPERTY_TAB:
        return SelectTab(hWindow, nOperand);
    case PROPERTY_SLIDER:
        return SetSlider(hWindow, nOperand, device);
    default:
        return false;
    }
}

bool PropertyDialog::Click(uint32_t hWindow, CameraControls& device) {
    PropertyWindow* w = FindMutable(hWindow, PROPERTY_KIND_BUTTON);
    if (w == nullptr || !w->fTracked || !w->fControl)
        return false;
    // A push button's value means nothing to the device; writing it acts.
    device.Set(w->nControlId, w->fCheckBox ? (w->nValue != 0 ? 0 : 1) : 1);
    Refresh(device);
    Mark(hWindow);
    return true;
}

bool PropertyDialog::SelectEntry(uint32_t hWindow, int32_t nIndex, CameraControls& device) {
    PropertyWindow* w = FindMutable(hWindow, PROPERTY_KIND_COMBO);
    if (w == nullptr || !w->fTracked || !w->fControl || nIndex < 0 ||
        size_t(nIndex) >= w->itemValues.size())
        return false;
    device.Set(w->nControlId, w->itemValues[size_t(nIndex)]);
    Refresh(device);
    Mark(hWindow);
    return true;
}

bool PropertyDialog::SelectTab(uint32_t hWindow, int32_t nIndex) {
    PropertyWindow* w = FindMutable(hWindow, PROPERTY_KIND_TAB);
    if (w == nullptr || !w->fTracked || nIndex < 0 || size_t(nIndex) >= w->items.size())
        return false;
    w->nValue = nIndex;
    uint32_t hParent = w->hParent;
    for (PropertyWindow& page : windows_) {
        if (page.hParent != hParent || page.cClass != "#32770")
            continue;
        bool fSelected = page.nIdentifier == 32700u + uint32_t(nIndex);
        page.nStyle = fSelected ? (page.nStyle | WS_VISIBLE) : (page.nStyle & ~WS_VISIBLE);
    }
    Track();
    Mark(hWindow);
    return true;
}

bool PropertyDialog::SetSlider(uint32_t hWindow, int32_t nPosition, CameraControls& device) {
    PropertyWindow* w = FindMutable(hWindow, PROPERTY_KIND_SLIDER);
    if (w == nullptr || !w->fTracked || !w->fControl)
        return false;
    device.Set(w->nControlId, std::clamp(nPosition, w->nMinimum, w->nMaximum));
    Refresh(device);
    Mark(hWindow);
    return true;
}

bool PropertyDialog::Refresh(CameraControls& device) {
    std::vector<CaptureControl> controls;
    if (device.List(controls) == 0)
        Apply(controls);
    return Track();
}

// Values and flags of the device into the windows bound to its controls.
void PropertyDialog::Apply(const std::vector<CaptureControl>& controls) {
    for (const CaptureControl& control : controls) {
        bool fDisabled = (control.nFlags & (CONTROL_FLAG_READ_ONLY | CONTROL_FLAG_INACTIVE |
                                            CONTROL_FLAG_GRABBED)) != 0;
        for (PropertyWindow& w : windows_) {
            if (!w.fControl || w.nControlId != control.nId)
                continue;
            w.nStyle = fDisabled ? (w.nStyle | WS_DISABLED) : (w.nStyle & ~WS_DISABLED);
            if (w.nKind == PROPERTY_KIND_SLIDER || w.nKind == PROPERTY_KIND_EDIT)
                w.nValue = control.nValue;
            if (w.nKind == PROPERTY_KIND_EDIT)
                w.cText = std::to_string(control.nValue);
            if (w.nKind == PROPERTY_KIND_BUTTON && w.fCheckBox)
                w.nValue = control.nValue != 0 ? 1 : 0;
            if (w.nKind == PROPERTY_KIND_COMBO) {
                auto it = std::find(w.itemValues.begin(), w.itemValues.end(), control.nValue);
                w.nValue = it == w.itemValues.end() ? -1 : int32_t(it - w.itemValues.begin());
            }
        }
    }
}

// Marks every tracked window whose state differs from what was told.
bool PropertyDialog::Track() {
    bool fAny = false;
    for (PropertyWindow& w : windows_) {
        if (!w.fTracked)
            continue;
        if (w.nStyle != w.nToldStyle || w.nExStyle != w.nToldExStyle || w.nValue != w.nToldValue) {
            w.nToldStyle = w.nStyle, w.nToldExStyle = w.nExStyle, w.nToldValue = w.nValue;
            w.fChanged = true;
        }
        fAny = fAny || w.fChanged;
    }
    return fAny;
}

void PropertyDialog::Mark(uint32_t hWindow) {
    for (PropertyWindow& w : windows_) {
        if (w.hWindow == hWindow && w.fTracked)
            w.fChanged = true;
    }
}

uint32_t PropertyDialog::TakeItems(std::vector<uint8_t>& out) {
    uint32_t nItems = 0;
    for (PropertyWindow& w : windows_) {
        if (!w.fTracked || !w.fChanged)
            continue;
        w.fChanged = false;
        uint8_t item[PROPERTY_UPDATE_ITEM] = {};
        StoreLe16(item, w.nKind);
        StoreLe16(item + 2, 0); // our edit fields show whole numbers
        StoreLe32(item + 4, w.hWindow);
        StoreLe32(item + 8, w.nStyle);
        StoreLe32(item + 12, w.nExStyle);
        StoreLe32(item + 16, static_cast<uint32_t>(w.nValue));
        out.insert(out.end(), item, item + PROPERTY_UPDATE_ITEM);
        ++nItems;
    }
    return nItems;
}

} // namespace brindle
