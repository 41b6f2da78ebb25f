// The command line of BrindleView.
#include "client/app/client_runtime.h"

#include <gtest/gtest.h>

namespace brindle {
namespace {

TEST(ClientOptionsTest, CommandLines) {
    struct Case {
        std::vector<const char*> args;
        bool ok;
    } cases[] = {
        {{"--headless", "--data-dir", "/d", "--connect", "a:1", "--connect=b:2", "--password-file",
          "/p"},
         true},
        {{"--data-dir=/d", "--help", "--version"}, true},
        {{"--connect", "host1", "--storage", "https://dav.example/r/"}, true},
        {{"--connect"}, false},
        {{"--storage"}, false},
        {{"--password-file"}, false},
        {{"--frobnicate"}, false},
        {{"stray"}, false},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv = {"BrindleView"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        ClientOptions options;
        std::string error;
        bool ok = ParseClientOptions(static_cast<int>(argv.size()), argv.data(), options, error);
        EXPECT_EQ(ok, c.ok) << ::testing::PrintToString(c.args);
        EXPECT_EQ(error.empty(), c.ok);
    }
    const char* argv[] = {"BrindleView", "--headless",    "--data-dir",      "/d", "--connect",
                          "a:1",         "--connect=b:2", "--password-file", "/p"};
    ClientOptions options;
    std::string error;
    ASSERT_TRUE(ParseClientOptions(9, argv, options, error));
    EXPECT_TRUE(options.fHeadless);
    EXPECT_EQ(options.cDataDir, "/d");
    EXPECT_EQ(options.connect, (std::vector<std::string>{"a:1", "b:2"}));
    EXPECT_EQ(options.cPasswordFile, "/p");
}

} // namespace
} // namespace brindle
