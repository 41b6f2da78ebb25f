// The remote property dialog through a real connection: a scripted client
// on loopback opens a camera's dialog, operates it and receives updates.
#include "common/little_endian.h"
#include "server/property_controls.h"
#include "server/scripted_client.h"
#include "server/server_fixture.h"

#include <gtest/gtest.h>

#include <thread>

namespace brindle::test {
namespace {

std::vector<uint8_t> Open(int32_t nCamera) {
    std::vector<uint8_t> p(12, 0);
    StoreLe32(p.data(), uint32_t(nCamera));
    return p;
}

std::vector<uint8_t> Operation(int32_t nCamera, uint32_t nCommand, uint32_t hWindow,
                               int32_t nValue) {
    std::vector<uint8_t> p(292, 0);
    StoreLe32(p.data(), uint32_t(nCamera));
    StoreLe32(p.data() + 4, nCommand);
    StoreLe32(p.data() + 8, 280);
    StoreLe32(p.data() + 16, hWindow);
    StoreLe32(p.data() + 28, uint32_t(nValue));
    return p;
}

class PropertyConnection : public ::testing::Test {
  protected:
    void SetUp() override {
        device = std::make_shared<ScriptedControls>(Camera());
        // Pattern only: no follow-up update after the description.
        device->controls.resize(3);
        server.host.cameras = {CameraRequestView{false, false, 0, 3},
                               CameraRequestView{true, false, 1, 2}};
        server.host.controls = {device, device};
        ASSERT_TRUE(client.Connect(server.Listen()));
        ASSERT_EQ(client.Login("").nResult, 0u);
    }

    // Opens camera nCamera's dialog; returns the description's window count.
    uint16_t OpenDialog(int32_t nCamera) {
        EXPECT_EQ(client.Send(PT_PROPERTY, Open(nCamera)), 0u);
        ReceivedPacket reply;
        EXPECT_TRUE(client.ReceiveType(PT_PROPERTY, reply));
        if (reply.payload.size() < 14)
            return 0xFFFF;
        EXPECT_EQ(LoadLe32(reply.payload.data()), uint32_t(nCamera));
        EXPECT_EQ(reply.payload.size(), LoadLe32(reply.payload.data() + 8) + 291);
        return LoadLe16(reply.payload.data() + 12);
    }

    uint32_t Handle(const char* cls, const char* text = "") {
        uint32_t h = 0;
        server.context.property.WithDialog([&](PropertyDialog& d, CameraControls&) {
            for (const PropertyWindow& w : d.Windows()) {
                if (h == 0 && w.cClass == cls && (*text == 0 || w.cText == text))
                    h = w.hWindow;
            }
        });
        return h;
    }

    ServerFixture server;
    ScriptedClient client;
    std::shared_ptr<ScriptedControls> device;
};

TEST_F(PropertyConnection, CamerasOutsideTheListGetAnEmptyDescription) {
    for (int32_t nCamera : {0, 3, -1}) {
        SCOPED_TRACE(nCamera);
        EXPECT_EQ(OpenDialog(nCamera), 0u);
        EXPECT_FALSE(server.context.property.IsOpen());
    }
    EXPECT_EQ(OpenDialog(2), 10u);
}

TEST_F(PropertyConnection, UpdatePrecedesQueuedImages) {
    ASSERT_EQ(OpenDialog(1), 10u);
    uint32_t hSlider = Handle("msctls_trackbar32");
    // The connection thread is held inside the set while an image queues.
    device->Hold();
    ASSERT_EQ(client.Send(PT_PROPERTY, Operation(1, 6, hSlider, 300)), 0u);
    ASSERT_TRUE(device->WaitHeld());
    server.Queue(1, {0xFF, 0xD8, 0xFF, 0xD9}, 1);
    device->Release();
    ReceivedPacket update;
    ASSERT_TRUE(client.Receive(update));
    ASSERT_EQ(update.nType, PT_PROPERTY);
    ASSERT_EQ(update.payload.size(), 12u + 40u); // the slider and its edit field
    EXPECT_EQ(LoadLe32(update.payload.data() + 4), 1u);
    EXPECT_EQ(LoadLe32(update.payload.data() + 8), 40u);
    EXPECT_EQ(LoadLe32(update.payload.data() + 16), hSlider);
    EXPECT_EQ(LoadLe32(update.payload.data() + 28), 300u);
    std::vector<BatchRecord> records;
    EXPECT_TRUE(client.ReceiveBatch(records));
    EXPECT_NE(server.LogText().find("127.0.0.1へカメラ1プロパティ更新2件送信"), std::string::npos);
}

TEST_F(PropertyConnection, SecondOpenReplacesTheFirstAndStaleIdsAreIgnored) {
    ASSERT_EQ(OpenDialog(1), 10u);
    uint32_t hOld = Handle("Button", "Show Time");
    ASSERT_EQ(OpenDialog(2), 10u);
    uint32_t hNew = Handle("Button", "Show Time");
    ASSERT_NE(hNew, hOld);
    ASSERT_EQ(client.Send(PT_PROPERTY, Operation(2, 3, hOld, 0)), 0u);
    ASSERT_EQ(client.Send(PT_PROPERTY, Operation(1, 3, hNew, 0)), 0u); // not its camera
    EXPECT_TRUE(client.Quiet(300));
    EXPECT_EQ(device->nSets, 0);
    ASSERT_EQ(client.Send(PT_PROPERTY, Operation(2, 3, hNew, 0)), 0u);
    ReceivedPacket update;
    ASSERT_TRUE(client.ReceiveType(PT_PROPERTY, update));
    EXPECT_EQ(LoadLe32(update.payload.data()), 2u);
    EXPECT_EQ(LoadLe32(update.payload.data() + 16), hNew);
}

TEST_F(PropertyConnection, ServerViewClosingSendsAClose) {
    ASSERT_EQ(OpenDialog(2), 10u);
    server.context.property.CloseFromView();
    ReceivedPacket update;
    ASSERT_TRUE(client.ReceiveType(PT_PROPERTY, update));
    EXPECT_EQ(update.payload, (std::vector<uint8_t>{2, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_NE(server.LogText().find("127.0.0.1へカメラ2プロパティクローズ送信"), std::string::npos);
}

TEST_F(PropertyConnection, ConversationEndClosesTheDialogAndDropsItsUpdate) {
    ASSERT_EQ(OpenDialog(1), 10u);
    uint32_t hCheck = Handle("Button", "Show Time");
    device->Hold();
    ASSERT_EQ(client.Send(PT_PROPERTY, Operation(1, 3, hCheck, 0)), 0u);
    ASSERT_TRUE(device->WaitHeld());
    // Told to stop while the update is being made: it is never sent.
    std::thread stopper([&] { server.manager.StopAll(200); });
    ASSERT_TRUE(WaitUntil([&] {
        for (const ConnectionInfo& info : server.manager.Snapshot()) {
            if (info.nStopRequest != 0)
                return true;
        }
        return false;
    }));
    device->Release();
    stopper.join();
    EXPECT_FALSE(server.context.property.IsOpen());
    EXPECT_FALSE(server.context.property.UpdatePending());
    EXPECT_EQ(server.LogText().find("プロパティ更新"), std::string::npos);
}

} // namespace
} // namespace brindle::test
