// Log-in over loopback, and the pure pieces it is made of.
#include "common/error_codes.h"
#include "protocol/packet.h"
#include "server/connections/login.h"
#include "server/scripted_client.h"
#include "server/server_fixture.h"

#include <gtest/gtest.h>

namespace brindle::test {
namespace {

TEST(StripPasswordLines, RemovesEveryPasswdLineWherever) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"[Settings]\r\nPasswd=AB12/1F\r\nPort=1\r\n", "[Settings]\r\nPort=1\r\n"},
        {"[Settings]\r\nPort=1\r\nPasswd=AB12/1F", "[Settings]\r\nPort=1"},
        {"[Settings]\nPort=1\nPASSWD=AB12\n", "[Settings]\nPort=1\n"},
        {"Passwd=AB\r\n[Settings]\r\n", "[Settings]\r\n"},
        {"Passwd=AB", ""},
        {"[S]\r\n  passwd =AB\r\n[WebDAV]\r\nPasswd=CD\r\nUser=u\r\n",
         "[S]\r\n[WebDAV]\r\nUser=u\r\n"},
        // Other keys that merely mention the word stay.
        {"[S]\r\nName=Passwd=x\r\nPasswdHint=y\r\n", "[S]\r\nName=Passwd=x\r\nPasswdHint=y\r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StripPasswordLines(c.in), c.out) << c.in;
}

std::string Hex(const LoginBlock& block) {
    std::string out;
    char cDigits[3];
    for (uint8_t b : block) {
        snprintf(cDigits, sizeof cDigits, "%02x", b);
        out += cDigits;
    }
    return out;
}

TEST(LoginDigest, IsMd5OfProductWordPasswordAndChallenge) {
    LoginBlock counting;
    for (size_t i = 0; i < counting.size(); ++i)
        counting[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(Hex(LoginDigest("", LoginBlock{})), "2ca9b6de5175b3c3da03c5a9dec907e4");
    EXPECT_EQ(Hex(LoginDigest("secret", counting)), "6340108fbaf2698f1b28560a56a9cb02");
    EXPECT_EQ(Hex(LoginChallenge(0x01D9000000000000ull)), "ccdd237a7e085daf826bcd34273d9eb7");
}

TEST(ConnectionLogin, WithoutPasswordSendsInformationWithoutPasswdLines) {
    ServerFixture server;
    std::string ini = "[Settings]\r\nPort=0\r\nCrypt=0\r\nPasswd=0011/22";
    WriteFileText(server.context.cSettingsFile, ini);
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(server.Listen()));
    LoginOutcome outcome = client.Login("");
    EXPECT_FALSE(outcome.fChallenged);
    EXPECT_EQ(outcome.nAnswered, PT_CONNECT);
    EXPECT_EQ(outcome.nResult, 0u);
    EXPECT_EQ(outcome.info, "[Settings]\r\nPort=0\r\nCrypt=0");
    EXPECT_TRUE(WaitUntil([&] { return server.shared.nConnectionStatus == CONNECTION_CONNECTED; }));
}

TEST(ConnectionLogin, InformationLongerThanOnePacketTravelsInPieces) {
    ServerFixture server;
    server.context.nPacketMax = 1024;
    std::string ini = "[Settings]\r\n";
    for (int i = 0; i < 300; ++i)
        ini += "Key" + std::to_string(i) + "=value " + std::to_string(i * 7) + "\r\n";
    WriteFileText(server.context.cSettingsFile, ini);
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(server.Listen()));
    LoginOutcome outcome = client.Login("");
    EXPECT_EQ(outcome.nResult, 0u);
    EXPECT_EQ(outcome.info, ini);
}

TEST(ConnectionLogin, WrongDigestFailsAndTheRightOneThenLogsIn) {
    ServerFixture server;
    server.context.SetPassword(ServerPassword{"secret", 0x01DA0203040506ull});
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(server.Listen()));
    ReceivedPacket challenge;
    ASSERT_TRUE(client.StartLogin(challenge));
    ASSERT_EQ(challenge.nType, PT_AUTH);
    ASSERT_EQ(challenge.payload.size(), 32u);

    uint8_t wrong[16];
    ClientDigest("Secret", challenge.payload.data(), wrong);
    LoginOutcome failed = client.AnswerChallenge(wrong);
    EXPECT_EQ(failed.nAnswered, PT_AUTH);
    EXPECT_EQ(failed.nResult, ERR_AUTH_FAILED);
    EXPECT_TRUE(failed.info.empty());
    EXPECT_NE(server.shared.nConnectionStatus.load(), CONNECTION_CONNECTED);

    uint8_t right[16];
    ClientDigest("secret", challenge.payload.data(), right);
    LoginOutcome outcome = client.AnswerChallenge(right);
    EXPECT_EQ(outcome.nAnswered, PT_AUTH);
    EXPECT_EQ(outcome.nResult, 0u);
    EXPECT_EQ(outcome.info, "[Settings]\r\nPort=0\r\n");
    EXPECT_TRUE(WaitUntil([&] { return server.shared.nConnectionStatus == CONNECTION_CONNECTED; }));
}

TEST(ConnectionLogin, ChallengeCarriesThePasswordStamp) {
    ServerFixture server;
    server.context.SetPassword(ServerPassword{"pw", 0x01DA0203040506ull});
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(server.Listen()));
    LoginOutcome outcome = client.Login("pw");
    EXPECT_TRUE(outcome.fChallenged);
    EXPECT_EQ(outcome.nStamp, 0x01DA0203040506ull);
    EXPECT_EQ(outcome.nResult, 0u);
}

TEST(ConnectionLogin, ResponseWithoutChallengeIsRefused) {
    // A response must answer a challenge of the same conversation; a
    // replayed digest sent straight away gets nowhere.
    ServerFixture server;
    server.context.SetPassword(ServerPassword{"pw", 0});
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(server.Listen()));
    uint8_t digest[16] = {};
    LoginBlock zero{};
    LoginBlock guess = LoginDigest("pw", zero);
    std::copy(guess.begin(), guess.end(), digest);
    LoginOutcome outcome = client.AnswerChallenge(digest);
    EXPECT_EQ(outcome.nResult, ERR_AUTH_FAILED);
    EXPECT_TRUE(outcome.info.empty());
}

TEST(ConnectionLogin, MissingOrEmptySettingsFileIsReportedAndLeavesTheClientConnected) {
    ServerFixture server;
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(server.Listen()));
    WriteFileText(server.context.cSettingsFile, "");
    LoginOutcome empty = client.Login("");
    EXPECT_EQ(empty.nResult, ERR_INFO_EMPTY);
    std::remove(server.context.cSettingsFile.c_str());
    LoginOutcome missing = client.Login("");
    EXPECT_EQ(missing.nResult, ERROR_FILE_NOT_FOUND_CODE);
    WriteFileText(server.context.cSettingsFile, "[Settings]\r\n");
    EXPECT_EQ(client.Login("").nResult, 0u);
}

} // namespace
} // namespace brindle::test
