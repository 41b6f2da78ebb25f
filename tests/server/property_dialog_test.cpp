// The camera's control dialog as the server describes, replays and tracks
// it, driven by a scripted device.
#include "common/little_endian.h"
#include "server/capture/camera_control.h"
#include "server/connections/property_remote.h"
#include "server/property_controls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace brindle::test {
namespace {

// Writes a description the way a reader expects it, field by field.
struct Bytes {
    std::vector<uint8_t> b;
    Bytes& T(const std::string& s) {
        b.insert(b.end(), s.begin(), s.end());
        b.push_back(0);
        return *this;
    }
    Bytes& I(uint32_t v) {
        uint8_t x[4];
        StoreLe32(x, v);
        b.insert(b.end(), x, x + 4);
        return *this;
    }
    Bytes& B(uint8_t v) {
        b.push_back(v);
        return *this;
    }
    Bytes& Rect(int32_t l, int32_t t, int32_t w, int32_t h) {
        return I(l).I(t).I(w).I(h).I(0).I(0).I(w).I(h);
    }
    Bytes& Head(const char* text, const char* cls, uint32_t style, uint32_t ex, uint32_t parent,
                uint32_t self, uint32_t id, uint8_t kind, int32_t l, int32_t t, int32_t w,
                int32_t h) {
        return T(text).T(cls).Rect(l, t, w, h).I(style).I(ex).I(parent).I(self).I(id).B(kind);
    }
};

const PropertyWindow& ByText(const PropertyDialog& d, const std::string& cls,
                             const std::string& text = "", int nth = 0) {
    for (const PropertyWindow& w : d.Windows()) {
        if (w.cClass == cls && (text.empty() || w.cText == text) && nth-- == 0)
            return w;
    }
    throw std::runtime_error("no window " + cls + " " + text);
}

TEST(PropertyDialog, DescribesEveryControlTypeByteForByte) {
    ScriptedControls device = Camera();
    PropertyDialog dialog(2, device.Name(), device.controls);
    bool fFollowUp = false;
    std::vector<uint8_t> reply = dialog.Describe(65536, fFollowUp);
    const uint32_t h = dialog.Windows()[0].hWindow; // handles are consecutive from here

    const uint32_t C = 0x50000000, D = 0x90C800C0, P = 0x40000400;
    Bytes e;
    e.b = {13, 0};
    e.T("-12,0,0,0,400,0,0,0,1,0,0,0,0,Sans Serif");
    e.Head("Cam A", "#32770", D, 0, 0, h, 0, 0, 100, 100, 420, 150);
    e.Head("", "SysTabControl32", C | 0x10000, 0, h, h + 1, 1000, 4, 6, 6, 408, 138);
    e.T("User").T("Camera").T("").B(0);
    e.Head("User", "#32770", P | 0x10000000, 0x10000, h, h + 2, 32700, 0, 10, 30, 400, 100);
    e.Head("Brightness", "Static", C, 0, h + 2, h + 3, 1002, 0, 8, 12, 110, 20);
    e.Head("", "msctls_trackbar32", C | 0x10001, 0, h + 2, h + 4, 1003, 7, 118, 8, 180, 26);
    e.I(uint32_t(-36000)).I(36000).I(7200).I(0).I(0).I(100);
    e.Head("100", "Edit", C | 0x880, 0, h + 2, h + 5, 1004, 3, 302, 10, 60, 20);
    e.Head("Show Time", "Button", C | 0x10003, 0, h + 2, h + 6, 1005, 1, 8, 36, 290, 20).B(1);
    e.Head("Camera", "#32770", P, 0x10000, h, h + 7, 32701, 0, 10, 30, 400, 100);
    e.Head("Pattern", "Static", C, 0, h + 7, h + 8, 1007, 0, 8, 12, 110, 20);
    e.Head("", "ComboBox", C | 0x210003, 0, h + 7, h + 9, 1008, 2, 118, 8, 180, 200);
    e.T("Bars").T("Checker").T("").B(1);
    e.Head("Reset", "Button", C | 0x10000, 0, h + 7, h + 10, 1009, 1, 8, 36, 110, 24).B(0);
    e.Head("Zoom", "Static", C, 0, h + 7, h + 11, 1010, 0, 8, 68, 110, 20);
    e.Head("", "ComboBox", C | 0x210003, 0, h + 7, h + 12, 1011, 2, 118, 64, 180, 200);
    for (int i = 0; i < 300; ++i)
        e.T("z" + std::to_string(i));
    e.T("").B(255); // entry 299 does not fit its byte

    ASSERT_EQ(reply.size(), e.b.size() + 291);
    EXPECT_EQ(LoadLe32(reply.data()), 2u);
    EXPECT_EQ(LoadLe32(reply.data() + 4), 0u);
    EXPECT_EQ(LoadLe32(reply.data() + 8), e.b.size());
    auto diff = std::mismatch(e.b.begin(), e.b.end(), reply.begin() + 12);
    EXPECT_EQ(diff.first, e.b.end())
        << "first difference at description byte " << (diff.first - e.b.begin());
    EXPECT_TRUE(std::all_of(reply.begin() + 12 + e.b.size(), reply.end(),
                            [](uint8_t x) { return x == 0; }));
    // The true index of Zoom goes out in the update that follows.
    EXPECT_TRUE(fFollowUp);
    std::vector<uint8_t> items;
    ASSERT_EQ(dialog.TakeItems(items), 1u);
    EXPECT_EQ(LoadLe32(items.data() + 4), h + 12);
    EXPECT_EQ(LoadLe32(items.data() + 16), 299u);
}

TEST(PropertyDialog, SmallPacketCutsAtAWholeRecord) {
    ScriptedControls device = Camera();
    bool fFollowUp = false;
    // 1,024 ends before Pattern's list, 2,000 before the 300-entry Zoom list.
    const struct {
        uint32_t nPacket;
        uint16_t nCount;
    } cases[] = {{1024, 9}, {2000, 12}, {4000, 13}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nPacket);
        PropertyDialog dialog(1, device.Name(), device.controls);
        PropertyDialog whole = dialog;
        bool fWholeFollowUp = false;
        std::vector<uint8_t> full = whole.Describe(65536, fWholeFollowUp);
        std::vector<uint8_t> reply = dialog.Describe(c.nPacket, fFollowUp);
        uint32_t nLength = LoadLe32(reply.data() + 8);
        EXPECT_LE(nLength + 291, c.nPacket);
        EXPECT_EQ(reply.size(), nLength + 291);
        EXPECT_EQ(LoadLe16(reply.data() + 12), c.nCount);
        // The windows left out are forgotten: no command reaches them.
        EXPECT_EQ(dialog.Windows().size(), c.nCount);
        EXPECT_EQ(fFollowUp, c.nCount == 13);
        // Whole records: the same bytes as the full description, then zeros.
        EXPECT_TRUE(
            std::equal(reply.begin() + 14, reply.begin() + 12 + nLength, full.begin() + 14));
        EXPECT_TRUE(std::all_of(reply.begin() + 12 + nLength, reply.end(),
                                [](uint8_t x) { return x == 0; }));
    }
}

TEST(PropertyDialog, LongTextsAreCutAtACharacterBoundary) {
    ScriptedControls device;
    std::string name;
    for (int i = 0; i < 100; ++i)
        name += "明"; // three bytes each
    device.controls = {Other(1, "User", name.c_str(), ControlType::Boolean, 0)};
    PropertyDialog dialog(1, device.Name(), device.controls);
    bool f = false;
    std::vector<uint8_t> reply = dialog.Describe(65536, f);
    std::string described(reinterpret_cast<const char*>(reply.data()), reply.size());
    EXPECT_NE(described.find(name.substr(0, 258) + '\0' + "Button"), std::string::npos);
}

// Sends a command as a client would.
std::vector<uint8_t> Command(int32_t nCamera, uint32_t nCommand, uint32_t hWindow, int32_t nValue,
                             size_t nSize = 292) {
    std::vector<uint8_t> p(nSize, 0);
    StoreLe32(p.data(), uint32_t(nCamera));
    if (nSize >= 8)
        StoreLe32(p.data() + 4, nCommand);
    if (nSize >= 20)
        StoreLe32(p.data() + 16, hWindow);
    if (nSize >= 32)
        StoreLe32(p.data() + 28, uint32_t(nValue));
    return p;
}

TEST(PropertyDialog, ReplaysCommandsAndIgnoresWhatItCannotCarryOut) {
    ScriptedControls base = Camera();
    base.Control(4).nFlags = CONTROL_FLAG_INACTIVE; // Reset is inactive
    struct Case {
        const char* what;
        uint32_t nCommand;
        const char* cls;
        const char* text;
        int nth;
        int32_t nValue;
        bool fDone;
        uint32_t nId; // the control that must have changed, 0 none
        int32_t nExpect;
        size_t nSize = 292;
        int32_t nCamera = 1;
    };
    const Case cases[] = {
        {"click toggles", 3, "Button", "Show Time", 0, 0, true, 2, 0},
        {"list entry maps to value", 4, "ComboBox", "", 0, 1, true, 3, 2},
        {"list entry 0", 4, "ComboBox", "", 0, 0, true, 3, 0},
        {"slider", 6, "msctls_trackbar32", "", 0, -30000, true, 1, -30000},
        {"slider clamped high", 6, "msctls_trackbar32", "", 0, 99999, true, 1, 36000},
        {"slider clamped low", 6, "msctls_trackbar32", "", 0, -99999, true, 1, -36000},
        {"tab", 5, "SysTabControl32", "", 0, 1, true, 0, 0},
        {"list index past the end", 4, "ComboBox", "", 0, 2, false, 0, 0},
        {"negative index", 4, "ComboBox", "", 0, -1, false, 0, 0},
        {"tab past the end", 5, "SysTabControl32", "", 0, 2, false, 0, 0},
        {"click on a slider", 3, "msctls_trackbar32", "", 0, 0, false, 0, 0},
        {"slider command on a list", 6, "ComboBox", "", 0, 0, false, 0, 0},
        {"disabled control", 3, "Button", "Reset", 0, 0, false, 0, 0},
        {"command 1", 1, "Button", "Show Time", 0, 0, false, 0, 0},
        {"command 7", 7, "Button", "Show Time", 0, 0, false, 0, 0},
        {"short payload", 3, "Button", "Show Time", 0, 0, false, 0, 0, 31},
        {"another camera", 3, "Button", "Show Time", 0, 0, false, 0, 0, 292, 2},
        {"the dialog itself", 3, "#32770", "Cam A", 0, 0, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedControls device = base;
        PropertyDialog dialog(1, device.Name(), device.controls);
        bool f = false;
        dialog.Describe(65536, f);
        std::vector<uint8_t> drop;
        dialog.TakeItems(drop);
        const PropertyWindow& target = ByText(dialog, c.cls, c.text, c.nth);
        ScriptedControls before = device;
        EXPECT_EQ(dialog.Replay(Command(c.nCamera, c.nCommand, target.hWindow, c.nValue, c.nSize),
                                device),
                  c.fDone);
        if (c.nId != 0) {
            EXPECT_EQ(device.Control(c.nId).nValue, c.nExpect);
        }
        if (!c.fDone) {
            EXPECT_EQ(device.nSets, 0);
        }
        std::vector<uint8_t> items;
        EXPECT_EQ(dialog.TakeItems(items) > 0, c.fDone);
    }
}

TEST(PropertyDialog, TabSelectionFlipsThePages) {
    ScriptedControls device = Camera();
    PropertyDialog dialog(1, device.Name(), device.controls);
    bool f = false;
    dialog.Describe(65536, f);
    std::vector<uint8_t> items;
    dialog.TakeItems(items);
    const PropertyWindow& tab = ByText(dialog, "SysTabControl32");
    ASSERT_TRUE(dialog.SelectTab(tab.hWindow, 1));
    EXPECT_EQ(ByText(dialog, "#32770", "User").nStyle & WS_VISIBLE, 0u);
    EXPECT_NE(ByText(dialog, "#32770", "Camera").nStyle & WS_VISIBLE, 0u);
    items.clear();
    EXPECT_EQ(dialog.TakeItems(items), 3u); // the tab control and both pages
}

TEST(PropertyDialog, RefusedOrRoundedSetsReportTheDevicesValue) {
    ScriptedControls device = Camera();
    device.nRoundTo = 100;
    device.nRefuse = 2;
    PropertyDialog dialog(1, device.Name(), device.controls);
    bool f = false;
    dialog.Describe(65536, f);
    std::vector<uint8_t> items;
    dialog.TakeItems(items);
    const PropertyWindow& slider = ByText(dialog, "msctls_trackbar32");
    const PropertyWindow& check = ByText(dialog, "Button", "Show Time");
    // A refused click changes nothing, yet the check box is reported with
    // the device's value so the client puts its box back.
    ASSERT_TRUE(dialog.Replay(Command(1, 3, check.hWindow, 0), device));
    items.clear();
    ASSERT_EQ(dialog.TakeItems(items), 1u);
    EXPECT_EQ(LoadLe32(items.data() + 4), check.hWindow);
    EXPECT_EQ(LoadLe32(items.data() + 16), 1u);
    // A rounded set reports the value taken, on the slider and its edit.
    ASSERT_TRUE(dialog.Replay(Command(1, 6, slider.hWindow, 1234), device));
    items.clear();
    ASSERT_EQ(dialog.TakeItems(items), 2u);
    EXPECT_EQ(LoadLe32(items.data() + 16), 1200u);
    EXPECT_EQ(LoadLe16(items.data() + 20), PROPERTY_KIND_EDIT);
    EXPECT_EQ(LoadLe32(items.data() + 36), 1200u);
}

TEST(PropertyRemote, TwoChangesMakeOneUpdateAndFlagsDisable) {
    auto device = std::make_shared<ScriptedControls>(Camera());
    PropertyRemote remote;
    int nWakes = 0;
    remote.SetWaker([&] { ++nWakes; });
    int owner = 0;
    std::vector<uint8_t> reply = remote.Open(1, device, 65536, &owner);
    PropertyRemote::Update update;
    ASSERT_TRUE(remote.TakeUpdate(update)); // Zoom's true index
    uint32_t hCheck = 0, hSlider = 0;
    remote.WithDialog([&](PropertyDialog& d, CameraControls&) {
        hCheck = ByText(d, "Button", "Show Time").hWindow;
        hSlider = ByText(d, "msctls_trackbar32").hWindow;
    });
    EXPECT_TRUE(remote.Command(Command(1, 3, hCheck, 0)));
    // A change at the device itself (the server's own view) adds to it.
    device->Control(1).nFlags = CONTROL_FLAG_GRABBED;
    remote.RefreshFromView();
    ASSERT_TRUE(remote.TakeUpdate(update));
    EXPECT_EQ(update.nKind, PROPERTY_UPDATE_VALUES);
    EXPECT_EQ(update.nItems, 4u); // check box, label, slider and edit of Brightness
    EXPECT_EQ(LoadLe32(update.payload.data() + 8), 80u);
    EXPECT_EQ(update.payload.size(), 92u);
    EXPECT_FALSE(remote.TakeUpdate(update));
    // The grabbed slider no longer takes commands.
    EXPECT_FALSE(remote.Command(Command(1, 6, hSlider, 5)));
    EXPECT_GE(nWakes, 2);
}

TEST(PropertyRemote, ClosingFromTheViewReplacesAPendingUpdate) {
    auto device = std::make_shared<ScriptedControls>(Camera());
    PropertyRemote remote;
    int owner = 0;
    remote.Open(3, device, 65536, &owner);
    // A view closing a dialog that a client has replaced meanwhile leaves
    // the new one.
    std::vector<PropertyWindow> windows;
    ASSERT_TRUE(remote.Snapshot(windows));
    remote.Open(3, device, 65536, &owner);
    remote.CloseFromView(windows.front().hWindow);
    EXPECT_TRUE(remote.IsOpen());
    remote.CloseFromView();
    EXPECT_FALSE(remote.IsOpen());
    PropertyRemote::Update update;
    ASSERT_TRUE(remote.TakeUpdate(update));
    EXPECT_EQ(update.nKind, PROPERTY_UPDATE_CLOSED);
    EXPECT_EQ(update.nCamera, 3);
    EXPECT_EQ(update.payload, (std::vector<uint8_t>{3, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0}));
    // Another conversation's end leaves a dialog alone; its own closes it.
    remote.Open(3, device, 65536, &owner);
    int other = 0;
    remote.ConversationEnded(&other);
    EXPECT_TRUE(remote.IsOpen());
    remote.ConversationEnded(&owner);
    EXPECT_FALSE(remote.IsOpen());
    EXPECT_FALSE(remote.TakeUpdate(update));
}

} // namespace
} // namespace brindle::test
