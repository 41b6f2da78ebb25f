// The byte-level parts of the settings transfer and of image reception:
// every length and number the server sends is checked before use.
#include "client/client_test_support.h"
#include "client/connections/reception.h"
#include "client/connections/server_params.h"
#include "common/ini_text.h"
#include "common/md5.h"

#include <gtest/gtest.h>

namespace brindle {
namespace {

std::vector<uint8_t> Head(std::initializer_list<int32_t> fields, size_t size) {
    std::vector<uint8_t> bytes;
    for (int32_t f : fields)
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(f) >> (8 * i)));
    bytes.resize(size, 'x');
    return bytes;
}

TEST(SettingsChunk, StatedLengthMustFitThePayload) {
    struct Case {
        std::vector<uint8_t> payload;
        bool ok;
        size_t bytes;
    } cases[] = {
        {Head({1, 2, 5}, 20), true, 5},  {Head({1, 2, 8}, 20), true, 8},
        {Head({1, 2, 9}, 20), false, 0}, {Head({1, 2, -1}, 20), false, 0},
        {Head({1, 2, 0}, 12), true, 0},  {Head({1, 2}, 11), false, 0},
    };
    for (const Case& c : cases) {
        SettingsChunk chunk;
        ASSERT_EQ(ParseSettingsChunk(c.payload, chunk) == 0, c.ok) << c.payload.size();
        if (c.ok) {
            EXPECT_EQ(chunk.bytes.size(), c.bytes);
        }
    }
}

TEST(ImagePiece, StatedLengthMustFitThePayload) {
    ImagePiece piece;
    EXPECT_EQ(ParseImagePiece(Head({2, 3, 4}, 24), piece), 0u);
    EXPECT_EQ(piece.nPiece, 2);
    EXPECT_EQ(piece.nCount, 3);
    EXPECT_EQ(piece.bytes.size(), 4u);
    EXPECT_NE(ParseImagePiece(Head({2, 3, 5}, 24), piece), 0u);
    EXPECT_NE(ParseImagePiece(Head({2, 3, 0}, 19), piece), 0u);
    EXPECT_NE(ParseImagePiece(Head({2, 3, INT32_MIN}, 40), piece), 0u);
}

TEST(SettingsCopy, CameraKeysWithDefaultsAndOnlyThose) {
    std::string server = "[Settings]\nPasswdHint=x\nCrypt=4\nFolder=/srv\n"
                         "[Camera]\nPathList=/dev/x|\nPathList2=/dev/a|/dev/b|\n"
                         "[/dev/a]\nName=\"  Front door  \"\nUse=Yes\nStill=1\nCycle=5\n"
                         "[/dev/b]\n"
                         "[/dev/x]\nName=Gone\n";
    std::string ini = "[Settings]\nWebdav=box\n[/dev/a]\nQuality=99\n";
    EXPECT_EQ(CopyServerSettings(server, ini), 2);
    EXPECT_EQ(IniTextGet(ini, "Camera", "PathList"), "/dev/a|/dev/b|");
    EXPECT_EQ(IniTextGet(ini, "Camera", "Count"), "2");
    EXPECT_EQ(IniTextGet(ini, "/dev/a", "Name"), "  Front door  "); // blanks survive the copy
    EXPECT_EQ(IniTextGet(ini, "/dev/a", "Cycle"), "5");
    EXPECT_EQ(IniTextGet(ini, "/dev/a", "Quality"), "25"); // a missing key takes its default
    EXPECT_EQ(IniTextGet(ini, "/dev/a", "Still"), std::nullopt);
    EXPECT_EQ(IniTextGet(ini, "/dev/b", "Index"), "1");
    EXPECT_EQ(IniTextGet(ini, "/dev/b", "Connect"), "0");
    EXPECT_EQ(IniTextGet(ini, "/dev/x", "Name"), std::nullopt);
    EXPECT_EQ(IniTextGet(ini, "Settings", "Crypt"), "4");
    EXPECT_EQ(IniTextGet(ini, "Settings", "NoSleep"), "No");
    EXPECT_EQ(IniTextGet(ini, "Settings", "Folder"), std::nullopt);
    EXPECT_EQ(IniTextGet(ini, "Settings", "Webdav"), "box");

    std::string empty;
    EXPECT_EQ(CopyServerSettings("[Settings]\nCrypt=1\n", empty), 0);
    EXPECT_EQ(IniTextGet(empty, "Camera", "Count"), "0");
    EXPECT_TRUE(ParseServerIni(empty).cameras.empty());
}

// A server may send a camera list of any length; the client keeps the first
// 32,767 bytes of it, as it reads the list back, and a stop cuts the work short.
TEST(SettingsCopy, HostileCameraListIsCutAndStoppable) {
    std::string server = "[Camera]\nPathList2=";
    for (int n = 0; n < 200000; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "c%06d|", n);
        server += name;
    }
    server += "\n";
    std::string ini;
    // 4,095 whole names of 8 bytes, then the cut "c004095" without its "|".
    ASSERT_EQ(CopyServerSettings(server, ini), 4096);
    EXPECT_EQ(IniTextGet(ini, "c004095", "Quality"), "25");
    EXPECT_EQ(IniTextGet(ini, "c004096", "Quality"), std::nullopt);
    ServerIniContent content = ParseServerIni(ini);
    ASSERT_EQ(content.cameras.size(), 4096u);
    EXPECT_EQ(content.cameras.back().nCameraId, 4096);

    std::atomic<int32_t> fStop{1};
    std::string untouched = "[Settings]\nWebdav=box\n";
    EXPECT_EQ(CopyServerSettings(server, untouched, &fStop), -1);
    EXPECT_EQ(untouched, "[Settings]\nWebdav=box\n");
    EXPECT_TRUE(ParseServerIni(ini, &fStop).cameras.empty());
}

// Pieces join in any order; anything outside the set is a sequence error.
TEST(ImageAssemblyTest, PiecesInAnyOrder) {
    const std::vector<uint8_t> whole = {'a', 'b', 'c', 'd', 'e', 'f', 'g'};
    auto piece = [&](int32_t n, int32_t count) {
        ImagePiece p;
        p.nPiece = n;
        p.nCount = count;
        size_t offset = static_cast<size_t>(n - 1) * 3;
        if (n >= 1 && offset < whole.size())
            p.bytes = std::span<const uint8_t>(whole).subspan(
                offset, std::min<size_t>(3, whole.size() - offset));
        return p;
    };
    struct Case {
        std::vector<int32_t> order;
        PieceResult last;
    } cases[] = {
        {{1, 2, 3}, PieceResult::Complete},   {{3, 1, 2}, PieceResult::Complete},
        {{2, 2}, PieceResult::SequenceError}, {{0}, PieceResult::SequenceError},
        {{4}, PieceResult::SequenceError},    {{1, -1}, PieceResult::SequenceError},
    };
    for (const Case& c : cases) {
        ImageAssembly assembly;
        assembly.SetGate(0);
        std::vector<uint8_t> set;
        PieceResult r = PieceResult::Incomplete;
        for (size_t i = 0; i < c.order.size(); ++i) {
            r = assembly.Add(piece(c.order[i], 3), set);
            if (i + 1 < c.order.size()) {
                ASSERT_EQ(r, PieceResult::Incomplete);
            }
        }
        EXPECT_EQ(r, c.last) << ::testing::PrintToString(c.order);
        if (r == PieceResult::Complete) {
            EXPECT_EQ(set, whole);
            EXPECT_EQ(assembly.Gate(), 0);
        }
    }
    ImageAssembly huge;
    huge.SetGate(0);
    std::vector<uint8_t> set;
    EXPECT_EQ(huge.Add(piece(1, IMAGE_PIECES_MAX + 1), set), PieceResult::SequenceError);

    // The largest set, one byte a piece, last piece first.
    ImageAssembly largest;
    largest.SetGate(0);
    PieceResult r = PieceResult::Incomplete;
    for (int32_t n = IMAGE_PIECES_MAX; n >= 1 && r == PieceResult::Incomplete; --n) {
        const uint8_t byte = static_cast<uint8_t>(n);
        ImagePiece p;
        p.nPiece = n;
        p.nCount = IMAGE_PIECES_MAX;
        p.bytes = std::span<const uint8_t>(&byte, 1);
        r = largest.Add(p, set);
    }
    ASSERT_EQ(r, PieceResult::Complete);
    ASSERT_EQ(set.size(), static_cast<size_t>(IMAGE_PIECES_MAX));
    EXPECT_EQ(set[0], 1);
    EXPECT_EQ(set[299], static_cast<uint8_t>(300));
}

TEST(ImageSet, RecordsAreCheckedAgainstTheSet) {
    std::vector<uint8_t> jpegA = {1, 2, 3};
    std::vector<uint8_t> jpegB = {4, 5};
    std::vector<uint8_t> set = test::ImageSetBytes({{111, 1, jpegA, 7, 2}, {222, 2, jpegB, 3, 0}});
    std::vector<ImageRecord> records;
    ASSERT_EQ(ParseImageSet(set, records), 0u);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].nFileTime, 111u);
    EXPECT_EQ(records[0].nSent, 7u);
    EXPECT_EQ(records[0].nAbandoned, 2u);
    EXPECT_EQ(std::vector<uint8_t>(records[1].jpeg.begin(), records[1].jpeg.end()), jpegB);

    // Cut inside the second JPEG: the first record is still delivered.
    std::vector<uint8_t> cut(set.begin(), set.end() - 1);
    EXPECT_NE(ParseImageSet(cut, records), 0u);
    EXPECT_EQ(records.size(), 1u);
    // A length that runs far past the set, and a negative one.
    for (int32_t length : {0x7FFFFFFF, -5}) {
        std::vector<uint8_t> bad = set;
        for (int i = 0; i < 4; ++i)
            bad[8 + 12 + i] = static_cast<uint8_t>(static_cast<uint32_t>(length) >> (8 * i));
        EXPECT_NE(ParseImageSet(bad, records), 0u);
        EXPECT_TRUE(records.empty());
    }
    // More images announced than the set holds.
    std::vector<uint8_t> more = set;
    more[0] = 3;
    EXPECT_NE(ParseImageSet(more, records), 0u);
    EXPECT_EQ(records.size(), 2u);
    EXPECT_NE(ParseImageSet(std::vector<uint8_t>(7, 0), records), 0u);
}

TEST(Requests, PayloadLayouts) {
    CameraRequestFields request;
    request.nFlags = 31;
    request.nFormat = 2;
    request.nCycle = 10;
    request.nSensitivity = 9;
    request.nQuality = 100;
    request.nTime = 4;
    request.nDays = 7;
    request.nCrypt = 8;
    request.fNoSleep = 1;
    request.cFont = std::string(200, 'f'); // cut to what the payload holds
    std::vector<uint8_t> p = CameraRequestPayload(3, request);
    ASSERT_EQ(p.size(), 136u);
    const int expected[] = {3, 31, 2, 10, 9, 100, 4, 7, 8, 1};
    for (size_t i = 0; i < 10; ++i)
        EXPECT_EQ(p[4 * i], expected[i]) << i;
    EXPECT_EQ(p[134], 'f');
    EXPECT_EQ(p[135], 0);

    PropertyRequestFields property;
    EXPECT_EQ(PropertyRequestPayload(3, property).size(), 12u);
    property.nKind = 6;
    property.anFields = {1, 2, 3, 4, 55};
    p = PropertyRequestPayload(3, property);
    ASSERT_EQ(p.size(), 292u);
    EXPECT_EQ(p[4], 6);
    EXPECT_EQ(p[8] | p[9] << 8, 280);
    EXPECT_EQ(p[28], 55);
}

TEST(Requests, AuthenticationDigest) {
    std::array<uint8_t, 16> challenge;
    for (size_t i = 0; i < 16; ++i)
        challenge[i] = static_cast<uint8_t>(0xF0 + i);
    uint8_t digest[16];
    AuthDigest("pw", challenge, digest);
    std::string hex;
    char two[3];
    for (uint8_t b : digest) {
        std::snprintf(two, sizeof two, "%02x", b);
        hex += two;
    }
    EXPECT_EQ(hex, Md5HexOf("Brindleshankpw" + std::string(challenge.begin(), challenge.end())));
}

} // namespace
} // namespace brindle
