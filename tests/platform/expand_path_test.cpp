#include "platform/expand_path.h"
#include "support/file_text.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace brindle {
namespace {

using test::ScopedEnv;
using test::TempDir;

// A home folder whose user-dirs.dirs moves the documents folder.
class ExpandPathTest : public ::testing::Test {
  protected:
    ExpandPathTest()
        : home_("HOME", dir_.Path().c_str()), config_("XDG_CONFIG_HOME", nullptr),
          documents_("XDG_DOCUMENTS_DIR", nullptr), appdata_("APPDATA", nullptr),
          cache_("XDG_CACHE_HOME", "/var/cache/brindle-test") {
        std::filesystem::create_directories(dir_.File(".config"));
        test::WriteFileText(dir_.File(".config/user-dirs.dirs"),
                            "# written by xdg-user-dirs-update\n"
                            "XDG_DOCUMENTS_DIR=\"$HOME/文書\"\n");
    }
    TempDir dir_;
    ScopedEnv home_, config_, documents_, appdata_, cache_;
};

TEST_F(ExpandPathTest, VariablesThenSpecialFolders) {
    ScopedEnv var("BRINDLE_T", "/srv/cams");
    ScopedEnv nested("BRINDLE_NESTED", "%PROFILE%/x");
    const std::string home = dir_.Path();
    struct Case {
        const char* path;
        std::string expanded;
    };
    const Case cases[] = {
        {"%PERSONAL%/BrindleHost", home + "/文書/BrindleHost"},
        {"%mydocuments%", home + "/文書"},
        {"%APPDATA%/a", home + "/.config/a"},
        {"%Internet_Cache%", "/var/cache/brindle-test"},
        {"%BRINDLE_T%/day", "/srv/cams/day"},
        {"%brindle_t%", "/srv/cams"}, // names found without case, as on Windows
        {"%BRINDLE_NESTED%", home + "/x"},
        {"%NOSUCHNAME%/x", "%NOSUCHNAME%/x"},
        {"%WINDOWS%/x", "%WINDOWS%/x"}, // no counterpart here
        {"100%", "100%"},
        {"50%off%PROFILE%", "50%off" + home},
        {"%%PROFILE%", "%" + home},
        {"%PROFILE%%PROFILE%", home + home},
        {"/plain/path", "/plain/path"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExpandPathText(c.path), c.expanded) << c.path;

    ScopedEnv appdata("APPDATA", "/from/env");
    EXPECT_EQ(ExpandPathText("%APPDATA%/a"), "/from/env/a") << "the environment wins";
}

TEST_F(ExpandPathTest, OutputIsCutAt291BytesAndReportsTheFullLength) {
    ScopedEnv var("BRINDLE_T", (std::string(289, 'a') + "表示").c_str()); // 295 bytes
    char out[EXPAND_PATH_BUFFER];
    std::memset(out, 'X', sizeof out);
    EXPECT_EQ(ExpandPath("%BRINDLE_T%", out), 296u);
    EXPECT_EQ(std::strlen(out), 289u) << "the split character is left out whole";
    EXPECT_EQ(ExpandPath("%PROFILE%", nullptr, 0), dir_.Path().size() + 1);

    ScopedEnv fits("BRINDLE_T", std::string(291, 'b').c_str());
    EXPECT_EQ(ExpandPath("%BRINDLE_T%", out), 292u);
    EXPECT_EQ(std::string(out), std::string(291, 'b'));
}

} // namespace
} // namespace brindle
