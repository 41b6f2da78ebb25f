// What a client may ask once connected: settings requests, echoes, the
// property command and types the server does not take.
#include "common/error_codes.h"
#include "server/connections/camera_request.h"
#include "common/little_endian.h"
#include "server/scripted_client.h"
#include "server/server_fixture.h"

#include <gtest/gtest.h>

namespace brindle::test {
namespace {

CameraRequest ValidRequest() {
    CameraRequest request;
    request.nCamera = 1;
    request.nOptions = REQUEST_SEND | REQUEST_SAVE;
    request.nFormat = 0;
    request.nCycle = 5;
    request.nSensitivity = 5;
    request.nQuality = 80;
    request.nTime = 4;
    request.nDays = 7;
    request.nCrypt = 3;
    request.fNoSleep = 1;
    request.cFont = "-16,0,0,0,400,0,0,0,128,0,0,0,0,Noto Sans";
    return request;
}

std::vector<uint8_t> Payload(const CameraRequest& request) {
    std::vector<uint8_t> payload(REQUEST_PAYLOAD_SIZE);
    WriteCameraRequest(request, payload.data());
    return payload;
}

TEST(CameraRequestParse, ReadsFieldsAndKeepsTheFontInsideThePayload) {
    CameraRequest request = ValidRequest();
    std::vector<uint8_t> payload = Payload(request);
    CameraRequest parsed;
    ASSERT_EQ(ParseCameraRequest(payload, parsed), 0u);
    EXPECT_EQ(parsed.nQuality, 80u);
    EXPECT_EQ(parsed.nCrypt, 3u);
    EXPECT_EQ(parsed.cFont, request.cFont);

    // A font text without its NUL ends with the payload.
    std::vector<uint8_t> unterminated(payload.begin(), payload.begin() + 44);
    std::copy_n("ABCD", 4, unterminated.begin() + 40);
    ASSERT_EQ(ParseCameraRequest(unterminated, parsed), 0u);
    EXPECT_EQ(parsed.cFont, "ABCD");

    std::vector<uint8_t> shortPayload(payload.begin(), payload.begin() + 39);
    EXPECT_EQ(ParseCameraRequest(shortPayload, parsed), ERROR_INVALID_PARAMETER_CODE);
}

class LoggedInClient : public ::testing::Test {
  protected:
    void SetUp() override {
        server.host.cameras = {CameraRequestView{false, false, 0, 3},
                               CameraRequestView{true, false, 1, 2}};
        ASSERT_TRUE(client.Connect(server.Listen()));
        ASSERT_EQ(client.Login("").nResult, 0u);
    }

    uint32_t Request(const CameraRequest& request) {
        EXPECT_EQ(client.Send(PT_REQUEST, Payload(request)), 0u);
        uint16_t nAnswered = 0;
        uint32_t nCode = 0xFFFFFFFF;
        EXPECT_TRUE(client.ReceiveResult(nAnswered, nCode));
        EXPECT_EQ(nAnswered, PT_REQUEST);
        return nCode;
    }

    ServerFixture server;
    ScriptedClient client;
};

TEST_F(LoggedInClient, RequestsOutsideTheLimitsAreRefusedAndChangeNothing) {
    struct Case {
        const char* name;
        void (*edit)(CameraRequest&);
        uint32_t nExpected;
    } cases[] = {
        {"camera 0", [](CameraRequest& r) { r.nCamera = 0; }, ERR_NO_SUCH_CAMERA},
        {"camera beyond the last", [](CameraRequest& r) { r.nCamera = 3; }, ERR_NO_SUCH_CAMERA},
        {"quality 101", [](CameraRequest& r) { r.nQuality = 101; }, ERROR_INVALID_PARAMETER_CODE},
        {"cipher 9", [](CameraRequest& r) { r.nCrypt = 9; }, ERROR_INVALID_PARAMETER_CODE},
        {"time 5", [](CameraRequest& r) { r.nTime = 5; }, ERROR_INVALID_PARAMETER_CODE},
        {"sensitivity 10", [](CameraRequest& r) { r.nSensitivity = 10; },
         ERROR_INVALID_PARAMETER_CODE},
        {"format count", [](CameraRequest& r) { r.nFormat = 3; }, ERROR_INVALID_PARAMETER_CODE},
        {"cycle 0", [](CameraRequest& r) { r.nCycle = 0; }, ERROR_INVALID_PARAMETER_CODE},
        {"days 0", [](CameraRequest& r) { r.nDays = 0; }, ERROR_INVALID_PARAMETER_CODE},
    };
    for (const Case& c : cases) {
        CameraRequest request = ValidRequest();
        c.edit(request);
        EXPECT_EQ(Request(request), c.nExpected) << c.name;
    }
    EXPECT_TRUE(server.host.Changes().empty());
    EXPECT_EQ(server.context.nCrypt.load(), 0);

    std::vector<uint8_t> truncated = Payload(ValidRequest());
    truncated.resize(20);
    ASSERT_EQ(client.Send(PT_REQUEST, truncated), 0u);
    uint16_t nAnswered = 0;
    uint32_t nCode = 0;
    ASSERT_TRUE(client.ReceiveResult(nAnswered, nCode));
    EXPECT_EQ(nCode, ERROR_INVALID_PARAMETER_CODE);
}

TEST_F(LoggedInClient, ValidRequestIsHandedOverWithTheRestartDecision) {
    CameraRequest keep = ValidRequest(); // camera 1: use, preview, format as they are
    CameraRequest restart = ValidRequest();
    restart.nCamera = 2;
    restart.nOptions |= REQUEST_USE;
    restart.nFormat = 0; // camera 2 runs format 1
    EXPECT_EQ(Request(keep), 0u);
    EXPECT_EQ(Request(restart), 0u);
    std::vector<RecordingHost::Change> changes = server.host.Changes();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].nIndex, 0);
    EXPECT_FALSE(changes[0].fRestart);
    EXPECT_EQ(changes[0].request.nQuality, 80u);
    EXPECT_EQ(changes[0].request.cFont, keep.cFont);
    EXPECT_EQ(changes[1].nIndex, 1);
    EXPECT_TRUE(changes[1].fRestart);
    EXPECT_EQ(server.context.nCrypt.load(), 3);
    EXPECT_TRUE(server.context.fNoSleep.load());
}

TEST_F(LoggedInClient, EchoComesBackUnchanged) {
    std::vector<uint8_t> payload(3000);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<uint8_t>(i * 31);
    ASSERT_EQ(client.Send(PT_ECHO, payload), 0u);
    ReceivedPacket echo;
    ASSERT_TRUE(client.ReceiveType(PT_ECHO, echo));
    EXPECT_EQ(echo.payload, payload);
}

TEST_F(LoggedInClient, UnsupportedTypesAreAnswered) {
    for (uint16_t nType : {uint16_t{PT_MAC}, uint16_t{PT_IMAGE}, uint16_t{42}}) {
        ASSERT_EQ(client.SendEmpty(nType), 0u);
        uint16_t nAnswered = 0;
        uint32_t nCode = 0;
        ASSERT_TRUE(client.ReceiveResult(nAnswered, nCode));
        EXPECT_EQ(nAnswered, nType);
        EXPECT_EQ(nCode, ERR_UNSUPPORTED_TYPE);
    }
}

TEST_F(LoggedInClient, PropertyOpenGetsAnEmptyDescription) {
    uint8_t open[12] = {};
    StoreLe32(open, 2); // camera 2, command 0
    ASSERT_EQ(client.Send(PT_PROPERTY, open), 0u);
    ReceivedPacket reply;
    ASSERT_TRUE(client.ReceiveType(PT_PROPERTY, reply));
    ASSERT_EQ(reply.payload.size(), 2u + 291u);
    EXPECT_EQ(LoadLe32(reply.payload.data()), 2u);
    EXPECT_EQ(LoadLe32(reply.payload.data() + 4), 0u);
    EXPECT_EQ(LoadLe32(reply.payload.data() + 8), 2u);
    EXPECT_EQ(LoadLe16(reply.payload.data() + 12), 0u);

    // Operations on controls need a dialog; without one they go unanswered.
    uint8_t click[292] = {};
    StoreLe32(click, 2);
    StoreLe32(click + 4, 3);
    StoreLe32(click + 8, 280);
    ASSERT_EQ(client.Send(PT_PROPERTY, click), 0u);
    EXPECT_TRUE(client.Quiet(300));
}

TEST(ConnectionRequests, NothingButTheLogInIsAnsweredBeforeLogIn) {
    ServerFixture server;
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(server.Listen()));
    uint8_t open[12] = {};
    StoreLe32(open, 1);
    std::vector<uint8_t> request = Payload(ValidRequest());
    ASSERT_EQ(client.SendEmpty(PT_MAC), 0u);
    ASSERT_EQ(client.Send(PT_PROPERTY, open), 0u);
    ASSERT_EQ(client.Send(PT_REQUEST, request), 0u);
    ASSERT_EQ(client.Send(PT_ECHO, open), 0u);
    EXPECT_TRUE(client.Quiet(300));
    EXPECT_TRUE(server.host.Changes().empty());
    // The connection is still good for a log-in.
    EXPECT_EQ(client.Login("").nResult, 0u);
}

} // namespace
} // namespace brindle::test
