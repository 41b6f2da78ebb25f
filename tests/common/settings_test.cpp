#include "common/error_codes.h"
#include "common/ini_file.h"
#include "common/settings.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>

namespace brindle {
namespace {

using test::ReadFileText;
using test::TempDir;
using test::WriteFileText;

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = dir_.File("BrindleHost.ini");
        SetProgramSettingsFile(path_);
    }
    void TearDown() override { SetProgramSettingsFile(""); }

    // Writes `value` raw under [S] k and returns a descriptor for it.
    SettingDescriptor Stored(const char* value, uint32_t flags) {
        EXPECT_EQ(IniWriteKey(path_, "S", "k", value), 0u);
        return SettingDescriptor{"S", "k", nullptr, nullptr, nullptr, flags};
    }
    // The value of [S] k as the file holds it, quotes and all.
    std::string Raw() {
        std::string text = ReadFileText(path_);
        size_t at = text.find("\nk=");
        size_t end = at == std::string::npos ? at : text.find('\n', at + 1);
        return end == std::string::npos ? "<missing>" : text.substr(at + 3, end - at - 3);
    }

    TempDir dir_;
    std::string path_;
};

TEST(SettingFormat, NumbersByTypeAndWidth) {
    struct Case {
        uint32_t flags;
        uint32_t value;
        const char* text;
    };
    const Case cases[] = {
        {SETTING_SIGNED | SETTING_WIDTH16, 0xFFFF, "-1"},
        {SETTING_WIDTH16, 0xFFFF, "65535"},
        {SETTING_HEX | SETTING_WIDTH16, 0xFFFF, "FFFF"},
        {SETTING_HEX | SETTING_WIDTH16, 0xA, "000A"},
        {SETTING_HEX | SETTING_WIDTH8, 0x5, "05"},
        {SETTING_HEX | SETTING_WIDTH32, 0xABC, "ABC"},
        {SETTING_HEX, 0xABC, "00000ABC"},
        {SETTING_SIGNED | SETTING_WIDTH8, 0x80, "-128"},
        {SETTING_SIGNED, 0xFFFFFFFE, "-2"},
        {SETTING_WIDTH8, 300, "44"},
        {0, 0xFFFFFFFF, "4294967295"},
        {SETTING_YESNO, 7, "Yes"},
        {SETTING_YESNO, 0, "No"},
        {SETTING_DOUBLE, 2, "2.000000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SettingFormatNumber(c.flags, c.value), c.text) << std::hex << c.flags;
    EXPECT_EQ(SettingFormatDouble(1.5), "1.500000");
    EXPECT_EQ(SettingFormatDouble(-0.25), "-0.250000");
}

TEST_F(SettingsTest, NumbersReadBackTruncatedToTheirWidth) {
    struct Case {
        const char* stored;
        uint32_t flags;
        uint32_t returned;
        uint32_t variable; // what lands in a variable of the setting's width
    };
    const Case cases[] = {
        {"ABC", SETTING_HEX, 0xABC, 0xABC}, // written as "%08lX", read without zeros
        {"00000ABC", SETTING_HEX, 0xABC, 0xABC},
        {"0x1f", SETTING_HEX | SETTING_WIDTH32, 0x1F, 0x1F},
        {"FFFF", SETTING_HEX | SETTING_WIDTH8, 0xFF, 0xFF},
        {"300", SETTING_WIDTH8, 44, 44},
        {"-1", SETTING_SIGNED | SETTING_WIDTH16, 0xFFFFFFFF, 0xFFFF},
        {"-1", SETTING_WIDTH16, 0xFFFF, 0xFFFF},
        {"-1", 0, 0xFFFFFFFF, 0xFFFFFFFF},
        {" 42 ", 0, 42, 42},
        {"12abc", SETTING_SIGNED, 12, 12},
        {"+7", SETTING_SIGNED, 7, 7},
        {"4294967296", 0, 0, 0}, // wraps like the 32-bit conversion
    };
    for (const Case& c : cases) {
        SettingDescriptor d = Stored(c.stored, c.flags);
        uint32_t variable = 0xDDDDDDDD;
        d.pValue = &variable;
        EXPECT_EQ(SettingRead(d), c.returned) << c.stored;
        unsigned width = (c.flags & SETTING_WIDTH8) ? 8 : (c.flags & SETTING_WIDTH16) ? 16 : 32;
        uint32_t mask = width == 32 ? 0xFFFFFFFF : (1u << width) - 1;
        EXPECT_EQ(variable & mask, c.variable) << c.stored;
        EXPECT_EQ(variable & ~mask, 0xDDDDDDDD & ~mask) << c.stored << ": wrote past its width";
    }
}

TEST_F(SettingsTest, MissingEmptyOrNonNumericValuesGiveTheDefault) {
    uint16_t value = 0;
    const uint16_t fallback = 31;
    for (const char* stored : {"", "   ", "abc", "-", static_cast<const char*>(nullptr)}) {
        if (stored)
            Stored(stored, 0);
        else
            IniDeleteKey(path_, "S", "k");
        SettingDescriptor d{"S", "k", &fallback, &value, nullptr, SETTING_WIDTH16};
        value = 0;
        EXPECT_EQ(SettingRead(d), 31u) << (stored ? stored : "missing");
        EXPECT_EQ(value, 31);
    }
    SettingDescriptor noDefault{"S", "k", nullptr, &value, nullptr, SETTING_WIDTH16};
    EXPECT_EQ(SettingRead(noDefault), 0u);
}

TEST_F(SettingsTest, YesNoFollowsItsDefault) {
    struct Case {
        const char* stored; // nullptr: key missing
        uint32_t whenDefaultTrue;
        uint32_t whenDefaultFalse;
    };
    const Case cases[] = {
        {nullptr, 1, 0}, {"", 1, 0},   {"maybe", 1, 0}, {"No", 0, 0},
        {"no", 0, 0},    {"NO", 0, 0}, {"Yes", 1, 1},   {"yES", 1, 1},
    };
    for (const Case& c : cases) {
        if (c.stored)
            Stored(c.stored, 0);
        else
            IniDeleteKey(path_, "S", "k");
        for (uint32_t byDefault : {1u, 0u}) {
            uint32_t flag = byDefault;
            SettingDescriptor d{"S", "k", &flag, &flag, nullptr, SETTING_YESNO};
            uint32_t expected = byDefault ? c.whenDefaultTrue : c.whenDefaultFalse;
            EXPECT_EQ(SettingRead(d), expected) << (c.stored ? c.stored : "missing") << byDefault;
            EXPECT_EQ(flag, expected);
        }
    }
}

TEST_F(SettingsTest, EveryTypeRoundTripsThroughTheFile) {
    int16_t s16 = -12345;
    uint8_t u8 = 200;
    uint32_t hex = 0xDEADBEEF, yes = 1;
    double d = -3.25;
    char text[64] = "玄関 camera";
    SettingDescriptor table[] = {
        {"S", "s16", nullptr, &s16, nullptr, SETTING_SIGNED | SETTING_WIDTH16},
        {"S", "u8", nullptr, &u8, nullptr, SETTING_WIDTH8},
        {"S", "hex", nullptr, &hex, nullptr, SETTING_HEX},
        {"S", "yes", nullptr, &yes, nullptr, SETTING_YESNO},
        {"S", "d", nullptr, &d, nullptr, SETTING_DOUBLE},
        {"S", "text", nullptr, text, nullptr, SettingTextFlags(sizeof text)},
    };
    for (const SettingDescriptor& entry : table)
        ASSERT_EQ(SettingWrite(entry), 0u) << entry.pcKey;
    EXPECT_EQ(ReadFileText(path_), "[S]\ns16=-12345\nu8=200\nhex=DEADBEEF\nyes=Yes\n"
                                   "d=-3.250000\ntext=玄関 camera\n");
    s16 = 0, u8 = 0, hex = 0, yes = 0, d = 0, text[0] = 0;
    for (const SettingDescriptor& entry : table)
        SettingRead(entry);
    EXPECT_EQ(s16, -12345);
    EXPECT_EQ(u8, 200);
    EXPECT_EQ(hex, 0xDEADBEEFu);
    EXPECT_EQ(yes, 1u);
    EXPECT_EQ(d, -3.25);
    EXPECT_STREQ(text, "玄関 camera");
}

TEST_F(SettingsTest, TextsThatReadingWouldChangeAreQuoted) {
    struct Case {
        const char* text;
        const char* stored;
    };
    const Case cases[] = {
        {"\"C:/a b\"", "\"\"C:/a b\"\""},
        {"'x'", "''x''"},
        {"\"\"", "\"\"\"\""}, // two marks alone would read back empty
        {"  padded ", "\"  padded \""},
        {"\"", "\""},
        {"\"a'", "\"a'"},
        {"plain", "plain"},
        {"", ""},
    };
    for (const Case& c : cases) {
        char buffer[32];
        std::strcpy(buffer, c.text);
        SettingDescriptor d{"S", "k", nullptr, buffer, nullptr, SettingTextFlags(sizeof buffer)};
        ASSERT_EQ(SettingWrite(d), 0u);
        EXPECT_EQ(Raw(), c.stored) << c.text;
        buffer[0] = 'X';
        EXPECT_EQ(SettingRead(d), std::strlen(c.text));
        EXPECT_STREQ(buffer, c.text);
    }
}

TEST_F(SettingsTest, TextReadsCutToTheBufferAndKeepTheDefault) {
    Stored("ab玄関", 0); // "玄" is three bytes
    char small[5];
    SettingDescriptor d{"S", "k", nullptr, small, nullptr, SettingTextFlags(sizeof small)};
    EXPECT_EQ(SettingRead(d), 2u) << "a character is never cut in half";
    EXPECT_STREQ(small, "ab");
    d.pValue = nullptr;
    EXPECT_EQ(SettingRead(d), 8u) << "without a buffer only the length counts";

    char same[16] = "fallback"; // default and value are one variable
    SettingDescriptor missing{"S", "none", same, same, nullptr, SettingTextFlags(sizeof same)};
    EXPECT_EQ(SettingRead(missing), 8u);
    EXPECT_STREQ(same, "fallback");
}

TEST_F(SettingsTest, TextWithALineBreakIsRefused) {
    Stored("old", 0);
    SettingDescriptor d{"S", "k", nullptr, nullptr, nullptr, SettingTextFlags(64)};
    EXPECT_EQ(SettingWriteText(d, "x\n[Settings]\nPort=1"), ERROR_INVALID_PARAMETER_CODE);
    EXPECT_EQ(Raw(), "old");
    EXPECT_TRUE(IniSectionKeys(path_, "Settings").empty());
}

TEST_F(SettingsTest, WriteNumberAndWriteTextUseTheDescriptorsPlace) {
    uint16_t variable = 1;
    SettingDescriptor d{"S", "k", nullptr, &variable, nullptr, SETTING_HEX | SETTING_WIDTH16};
    ASSERT_EQ(SettingWriteNumber(d, 0x12345), 0u);
    EXPECT_EQ(Raw(), "2345");
    EXPECT_EQ(variable, 1) << "the variable is not touched";
    ASSERT_EQ(SettingWriteText(d, "'q'"), 0u);
    EXPECT_EQ(Raw(), "''q''");
}

TEST_F(SettingsTest, FileFieldAndTemplateSections) {
    uint32_t value = 5;
    const std::string other = dir_.File("other.ini");
    SettingDescriptor full{"S", "k", nullptr, &value, other.c_str(), 0};
    SettingDescriptor bare{"S", "k", nullptr, &value, "Peer_1.ini", 0};
    SettingDescriptor own{"S", "k", nullptr, &value, nullptr, 0};
    EXPECT_EQ(SettingFilePath(full), other);
    EXPECT_EQ(SettingFilePath(bare), dir_.File("Peer_1.ini"));
    EXPECT_EQ(SettingFilePath(own), path_);
    for (const SettingDescriptor* d : {&full, &bare, &own})
        ASSERT_EQ(SettingWrite(*d), 0u);
    for (const char* name : {"other.ini", "Peer_1.ini", "BrindleHost.ini"})
        EXPECT_EQ(ReadFileText(dir_.File(name)), "[S]\nk=5\n") << name;

    // A per-camera template: no section until bound.
    const uint32_t fallback = 60;
    SettingDescriptor cycle{nullptr, "Cycle", &fallback, nullptr, nullptr, 0};
    EXPECT_EQ(SettingRead(cycle), 60u);
    EXPECT_EQ(SettingWrite(cycle), ERROR_INVALID_PARAMETER_CODE);
    uint32_t cam1 = 10, cam2 = 20;
    ASSERT_EQ(SettingWrite(SettingBind(cycle, "Cam1", &cam1)), 0u);
    ASSERT_EQ(SettingWrite(SettingBind(cycle, "Cam2", &cam2)), 0u);
    cam1 = cam2 = 0;
    SettingRead(SettingBind(cycle, "Cam1", &cam1));
    SettingRead(SettingBind(cycle, "Cam2", &cam2));
    EXPECT_EQ(cam1, 10u);
    EXPECT_EQ(cam2, 20u);

    SetProgramSettingsFile("");
    EXPECT_EQ(SettingWrite(own), ERROR_PATH_NOT_FOUND_CODE);
    EXPECT_EQ(SettingWrite(bare), ERROR_PATH_NOT_FOUND_CODE);
    EXPECT_EQ(SettingRead(own), 0u);
}

TEST_F(SettingsTest, DoublesIgnoreTheLocaleAndFallBack) {
    const double fallback = 0.5;
    double value = 0;
    SettingDescriptor d{"S", "k", &fallback, &value, nullptr, SETTING_DOUBLE};
    EXPECT_EQ(SettingRead(d), 0u);
    EXPECT_EQ(value, 0.5);
    Stored(" 12.75xyz", 0);
    EXPECT_EQ(SettingRead(d), 12u);
    EXPECT_EQ(value, 12.75);
    Stored("nonsense", 0);
    SettingRead(d);
    EXPECT_EQ(value, 0.5);
}

} // namespace
} // namespace brindle
