// The remote property dialog's logic: reading descriptions and updates,
// and the requests that user actions make, on a clock the test moves.
#include "client/connections/property_replica.h"
#include "client/connections/property_request.h"
#include "client/connections/reception.h"
#include "client/property_fixture.h"
#include "common/little_endian.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace brindle {
namespace {

using test::Desc;
using test::List;
using test::Slider;
using test::UpdateOf;

// A dialog of each control kind: 1 dialog, 2 tab control (tab 2 of 3
// selected), 3 page, 4 check box, 5 list, 6 slider -36,000..36,000, 7 edit.
Desc Dialog() {
    Desc d;
    d.Window("#32770", 0, 1, 0, {}, "Cam", 300, 200);
    d.Window("SysTabControl32", 1, 2, 4, List({"A", "B", "C"}, 2));
    d.Window("#32770", 1, 3, 0);
    d.Window("Button", 3, 4, 1, {1}, "Show Time");
    d.Window("ComboBox", 3, 5, 2, List({"Bars", "Checker"}, 255));
    d.Window("msctls_trackbar32", 3, 6, 7, Slider(-36000, 36000, 100));
    d.Window("Edit", 3, 7, 3, {}, "100");
    return d;
}

TEST(PropertyDescription, RefusesMalformedDescriptionsWhole) {
    std::vector<uint8_t> deep;
    {
        Desc d;
        d.Window("#32770", 0, 1, 0);
        for (uint32_t h = 2; h <= 18; ++h)
            d.Window("#32770", h - 1, h, 0);
        deep = d.Payload();
    }
    std::vector<uint8_t> cut = Dialog().Payload();
    cut.resize(12 + 30);
    struct Case {
        const char* what;
        std::vector<uint8_t> payload;
    } cases[] = {
        {"length past the payload", Dialog().Payload(1, 400)},
        {"payload cut", cut},
        {"record past the length", Dialog().Payload(1, -3)},
        {"kind against its class",
         Desc().Window("#32770", 0, 1, 0).Window("Button", 1, 2, 2, List({}, 0)).Payload()},
        {"repeated handle", Desc().Window("#32770", 0, 1, 0).Window("Static", 1, 1, 0).Payload()},
        {"zero handle", Desc().Window("#32770", 0, 1, 0).Window("Static", 1, 0, 0).Payload()},
        {"nesting over 16", deep},
    };
    for (const Case& c : cases) {
        ReplicaDescription out;
        std::string reason;
        EXPECT_FALSE(ParsePropertyDescription(c.payload, 1920, 1080, out, reason)) << c.what;
        EXPECT_FALSE(reason.empty()) << c.what;
    }
    // Sixteen levels are fine.
    Desc ok;
    ok.Window("#32770", 0, 1, 0);
    for (uint32_t h = 2; h <= 17; ++h)
        ok.Window("#32770", h - 1, h, 0);
    ReplicaDescription out;
    std::string reason;
    EXPECT_TRUE(ParsePropertyDescription(ok.Payload(), 1920, 1080, out, reason)) << reason;
}

TEST(PropertyDescription, ReadsRecordsAndClampsWhatIsTooBig) {
    Desc d = Dialog();
    d.Window("Static", 99, 8, 0, {}, std::string(300, 'x'), 50000, -5); // unknown parent
    d.Window("Static", 1, 9, 0);                                        // beyond the count: ignored
    d.nCount = 8;
    ReplicaDescription out;
    std::string reason;
    ASSERT_TRUE(ParsePropertyDescription(d.Payload(7), 200, 150, out, reason)) << reason;
    ASSERT_EQ(out.controls.size(), 8u);
    EXPECT_EQ(out.nCamera, 7);
    EXPECT_EQ(out.cFont, "-12,0,0,0,400,0,0,0,1,0,0,0,0,Sans");
    EXPECT_EQ(out.controls[0].position[2], 200); // within the screen
    EXPECT_EQ(out.controls[0].position[3], 150);
    EXPECT_EQ(out.controls[1].nValue, 2);
    EXPECT_EQ(out.controls[4].nValue, -1); // 255: no selection
    EXPECT_EQ(out.controls[5].nMinimum, -36000);
    EXPECT_EQ(out.controls[5].nValue, 100);
    EXPECT_EQ(out.controls[5].nParent, 2);
    EXPECT_EQ(out.controls[6].nValue, 100);
    EXPECT_EQ(out.controls[7].cText.size(), 259u);
    EXPECT_EQ(out.controls[7].nParent, -1);
    EXPECT_EQ(out.controls[7].position[2], 32767);
    EXPECT_EQ(out.controls[7].position[3], 0);
}

TEST(PropertyDescription, DecimalTexts) {
    struct {
        int32_t v, d;
        const char* text;
    } cases[] = {{125, 2, "1.25"},
                 {-5, 2, "-0.05"},
                 {7, 0, "7"},
                 {1, 12, "0.000000001"},
                 {-2147483647 - 1, 3, "-2147483.648"}};
    for (const auto& c : cases)
        EXPECT_EQ(DecimalText(c.v, c.d), c.text);
}

class RecordingReplicaHost : public PropertyReplicaHost {
  public:
    struct Request {
        int32_t nCamera, nKind, nControlKind;
        uint32_t hWindow;
        int32_t nCode, nValue;
        std::string cText;
    };
    bool fSlotFree = true;
    std::vector<Request> requests;
    std::vector<size_t> changed;
    int nBuilds = 0, nCloses = 0, nRefusals = 0;
    std::vector<bool> busy;

    bool RequestSlotFree(const void*) override { return fSlotFree; }
    void PostRequest(const void*, int32_t nCamera, int32_t nKind, int32_t nControlKind,
                     uint32_t hWindow, int32_t nCode, int32_t nValue,
                     const std::string& cText) override {
        requests.push_back({nCamera, nKind, nControlKind, hWindow, nCode, nValue, cText});
    }
    void Build() override { ++nBuilds; }
    void ControlChanged(size_t n) override { changed.push_back(n); }
    void CloseDialog() override { ++nCloses; }
    void ShowBusy(bool f) override { busy.push_back(f); }
    void Refused(const std::string&) override { ++nRefusals; }
};

class Replica : public ::testing::Test {
  protected:
    void SetUp() override {
        clock.SetTick(5000);
        replica.Open(&server, false);
        replica.Packet(&server, Dialog().Payload(4));
        ASSERT_EQ(host.nBuilds, 1);
    }
    void Pass(uint32_t ms) {
        clock.SetTick(clock.Tick() + ms);
        replica.Tick();
    }

    int server = 0, other = 0;
    ManualClock clock;
    RecordingReplicaHost host;
    PropertyReplica replica{host, clock};
};

TEST_F(Replica, DescribedTabIsSelectedOnTheServerAfterASecond) {
    Pass(999);
    EXPECT_TRUE(host.requests.empty());
    Pass(1);
    ASSERT_EQ(host.requests.size(), 1u);
    const auto& r = host.requests[0];
    EXPECT_EQ(r.nCamera, 4); // the dialog's camera
    EXPECT_EQ(r.nKind, 5);
    EXPECT_EQ(r.hWindow, 2u);
    EXPECT_EQ(r.nCode, -551);
    EXPECT_EQ(r.nValue, 2);
    Pass(5000);
    EXPECT_EQ(host.requests.size(), 1u);
}

TEST_F(Replica, QuickSliderMovesSendOnlyTheLast) {
    Pass(1000); // the tab request
    host.requests.clear();
    replica.UserSlider(5, 200, 5);
    Pass(500);
    replica.UserSlider(5, -30000, 5);
    Pass(1500);
    replica.UserSlider(5, 300, 8);
    Pass(1999);
    EXPECT_TRUE(host.requests.empty());
    Pass(1);
    ASSERT_EQ(host.requests.size(), 1u);
    EXPECT_EQ(host.requests[0].nValue, 300); // 32 bits, no cut to 16
    EXPECT_EQ(host.requests[0].nCode, 8);
    // Back at the last known value: no request.
    replica.UserSlider(5, 100, 8);
    Pass(3000);
    EXPECT_EQ(host.requests.size(), 1u);
}

// The log line of each request names what the user chose: the entry, the
// tab, or the label left of the slider on its row (not one on another row
// or under another page).
TEST(ReplicaRequestText, NamesTheEntryTheTabOrTheSlidersLabel) {
    Desc d;
    d.Window("#32770", 0, 1, 0, {}, "Cam", 300, 200);
    d.Window("SysTabControl32", 1, 2, 4, List({"User", "Camera"}, 0));
    d.Window("#32770", 1, 3, 0, {}, "User", 280, 150);
    d.Window("Static", 3, 4, 0, {}, "Far left", 50, 20, 0, 12);
    d.Window("Static", 3, 5, 0, {}, "Brightness", 110, 20, 60, 12);
    d.Window("msctls_trackbar32", 3, 6, 7, Slider(0, 255, 128), "", 180, 26, 170, 8);
    d.Window("Static", 3, 7, 0, {}, "Pattern", 110, 20, 60, 40);
    d.Window("ComboBox", 3, 8, 2, List({"Bars", "Checker"}, 0), "", 180, 200, 170, 36);
    d.Window("Button", 3, 9, 1, {0}, "Reset", 80, 24, 8, 70);
    ManualClock clock;
    RecordingReplicaHost host;
    PropertyReplica replica{host, clock};
    int server = 0;
    replica.Open(&server, false);
    replica.Packet(&server, d.Payload(1));
    EXPECT_EQ(ReplicaLabel(replica.Description(), 5), "Brightness");
    EXPECT_EQ(ReplicaLabel(replica.Description(), 7), "Pattern");
    struct Case {
        std::function<void()> act;
        uint32_t nWait;
        const char* text;
    } cases[] = {
        {[&] {}, 1000, "User"}, // the described tab, selected after building
        {[&] { replica.UserSlider(5, 200, 4); }, 2000, "Brightness"},
        {[&] { replica.UserSelect(7, 1); }, 1000, "Checker"},
        {[&] { replica.UserTab(1, 1); }, 1000, "Camera"},
        {[&] { replica.UserClick(8); }, 1000, "Reset"},
    };
    for (const Case& c : cases) {
        host.requests.clear();
        c.act();
        clock.SetTick(clock.Tick() + c.nWait);
        replica.Tick();
        ASSERT_EQ(host.requests.size(), 1u) << c.text;
        EXPECT_EQ(host.requests[0].cText, c.text);
    }
}

TEST_F(Replica, UpdatesChangeValuesWithoutRequests) {
    Pass(1000);
    host.requests.clear();
    replica.Packet(&server, UpdateOf(4, 1,
                                     {{1, 4, 0x50000000, 0, 0},
                                      {2, 5, 0x58000000, 0, 1},
                                      {3 | (2u << 16), 7, 0x50000000, 0, 125},
                                      {7, 6, 0x50000000, 0, uint32_t(-36000)},
                                      {7, 99, 0, 0, 1},   // unknown window
                                      {2, 6, 0, 0, 1}})); // kind does not match
    Pass(5000);
    EXPECT_TRUE(host.requests.empty());
    EXPECT_EQ(host.changed, (std::vector<size_t>{3, 4, 6, 5}));
    EXPECT_EQ(replica.Control(3)->nValue, 0);
    EXPECT_EQ(replica.Control(4)->nStyle & REPLICA_WS_DISABLED, REPLICA_WS_DISABLED);
    EXPECT_EQ(replica.Control(6)->cText, "1.25");
    EXPECT_EQ(replica.Control(5)->nValue, -36000);
    EXPECT_EQ(replica.Control(5)->nStyle, 0x50000000u);
}

TEST_F(Replica, BadUpdatesAreIgnored) {
    struct Case {
        const char* what;
        const void* from;
        std::vector<uint8_t> payload;
    } cases[] = {
        {"n past the payload", &server, UpdateOf(4, 1, {{1, 4, 0, 0, 0}}, 20)},
        {"another camera", &server, UpdateOf(3, 1, {{1, 4, 0, 0, 0}})},
        {"another server", &other, UpdateOf(4, 1, {{1, 4, 0, 0, 0}})},
        {"kind above 2", &server, UpdateOf(4, 3, {{1, 4, 0, 0, 0}})},
        {"partial item", &server, UpdateOf(4, 1, {{1, 4, 0, 0, 0}}, -1)},
        {"short", &server, std::vector<uint8_t>(11, 0)},
    };
    for (const Case& c : cases) {
        replica.Packet(c.from, c.payload);
        EXPECT_EQ(replica.Control(3)->nValue, 1) << c.what;
    }
    EXPECT_TRUE(host.changed.empty());
    // Another server's description or close leave the dialog alone too.
    replica.Packet(&other, Desc().Window("#32770", 0, 50, 0).Payload(4));
    replica.Packet(&other, UpdateOf(4, 2, {}));
    replica.ServerGone(&other);
    EXPECT_TRUE(replica.IsOpen());
    EXPECT_EQ(host.nBuilds, 1);
    EXPECT_EQ(replica.Description().controls.size(), 7u);
    // Its own server's close does close it.
    replica.Packet(&server, UpdateOf(4, 2, {}));
    EXPECT_FALSE(replica.IsOpen());
    EXPECT_EQ(host.nCloses, 1);
}

TEST_F(Replica, TakenSlotPutsBackAndClosesAfterTenSeconds) {
    Pass(1000);
    host.requests.clear();
    host.fSlotFree = false;
    // A drag is put back at once.
    replica.UserSlider(5, 500, 5);
    EXPECT_EQ(host.changed, (std::vector<size_t>{5}));
    // A slider release waits, then is put back; the dialog stays.
    replica.UserSlider(5, 500, 8);
    Pass(9990);
    EXPECT_EQ(host.changed.size(), 1u);
    EXPECT_EQ(replica.NextDue(), 10u); // looked at every 10 ms, never in a busy loop
    Pass(10);
    EXPECT_EQ(host.changed.size(), 2u);
    EXPECT_TRUE(replica.IsOpen());
    // A click that waits as long closes the dialog.
    replica.UserClick(3);
    Pass(10000);
    EXPECT_EQ(host.changed.back(), 3u);
    EXPECT_EQ(host.nCloses, 1);
    EXPECT_FALSE(replica.IsOpen());
    EXPECT_TRUE(host.requests.empty());
}

TEST_F(Replica, ASlotFreedWithinTheWaitTakesTheAction) {
    Pass(1000);
    host.requests.clear();
    host.fSlotFree = false;
    replica.UserSelect(4, 1);
    Pass(4000);
    host.fSlotFree = true;
    Pass(10);
    Pass(1000);
    ASSERT_EQ(host.requests.size(), 1u);
    EXPECT_EQ(host.requests[0].nKind, 4);
    EXPECT_EQ(host.requests[0].nCode, 1);
    EXPECT_EQ(host.requests[0].nValue, 1);
}

TEST(ReplicaBusy, CoverLastsUntilTheNextUpdateOrAMinute) {
    ManualClock clock;
    RecordingReplicaHost host;
    PropertyReplica replica(host, clock);
    int server = 0;
    replica.Open(&server, true);
    Desc d;
    d.Window("#32770", 0, 1, 0).Window("Button", 1, 2, 1, {0});
    replica.Packet(&server, d.Payload());
    clock.SetTick(0);
    replica.UserClick(1);
    clock.SetTick(1000);
    replica.Tick();
    EXPECT_TRUE(replica.Busy());
    replica.Packet(&server, UpdateOf(1, 1, {{1, 2, 0x50000000, 0, 1}}));
    EXPECT_FALSE(replica.Busy());
    // No change reported: the cover gives up after a minute.
    replica.UserClick(1);
    clock.SetTick(3000);
    replica.Tick();
    EXPECT_TRUE(replica.Busy());
    clock.SetTick(62999);
    replica.Tick();
    EXPECT_TRUE(replica.Busy());
    clock.SetTick(63000);
    replica.Tick();
    EXPECT_FALSE(replica.Busy());
    EXPECT_EQ(host.busy, (std::vector<bool>{true, false, true, false}));
}

// The request names the camera the dialog was described for, wherever the
// main window's selection has moved since.
TEST(PropertyRequest, NamesTheDialogsCamera) {
    ClientContext ctx;
    ServerParams psp;
    psp.cameras.resize(2);
    psp.cameras[0].nCameraId = 3;
    psp.cameras[1].nCameraId = 5;
    psp.nCurrentCamera = 0;
    EXPECT_FALSE(PostPropertyRequest(ctx, psp, 9, 6, 7, 42, 8, 70000, "x"));
    EXPECT_EQ(psp.nPropertyRequest.load(), 0);
    ASSERT_TRUE(PostPropertyRequest(ctx, psp, 5, 6, 7, 42, 8, 70000, "x"));
    EXPECT_EQ(psp.nPropertyRequest.load(), 2);
    std::vector<uint8_t> p = PropertyRequestPayload(5, psp.propertyRequest);
    ASSERT_EQ(p.size(), 292u);
    EXPECT_EQ(LoadLe32(p.data() + 4), 6u);
    EXPECT_EQ(LoadLe32(p.data() + 8), 280u);
    EXPECT_EQ(LoadLe32(p.data() + 12), 7u);
    EXPECT_EQ(LoadLe32(p.data() + 16), 42u);
    EXPECT_EQ(LoadLe32(p.data() + 24), 8u);
    EXPECT_EQ(LoadLe32(p.data() + 28), 70000u);
}

} // namespace
} // namespace brindle
