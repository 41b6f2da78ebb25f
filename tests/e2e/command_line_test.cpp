// What both programs say and return for their command lines before they do
// any work: the version they share, the usage, and status 2 for a command
// line they cannot take.
#include "common/version.h"
#include "e2e_support.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace brindle::test {
namespace {

struct CommandCase {
    const char* program; // "BrindleHost" or "BrindleView"
    std::vector<std::string> args;
    int nExit;
    std::string outStart; // standard output begins with this
    std::string errStart; // standard error begins with this
};

TEST(CommandLine, VersionUsageAndStatusOfBothPrograms) {
    const std::string version = BRINDLE_VERSION_TEXT;
    const CommandCase cases[] = {
        {"BrindleHost", {"--version"}, 0, "BrindleHost " + version + "\n", ""},
        {"BrindleView", {"--version"}, 0, "BrindleView " + version + "\n", ""},
        {"BrindleHost", {"-h"}, 0, "Usage: BrindleHost ", ""},
        {"BrindleView", {"--help"}, 0, "Usage: BrindleView ", ""},
        {"BrindleHost",
         {"--no-such-option"},
         2,
         "",
         "BrindleHost: unknown option: --no-such-option\n\nUsage: BrindleHost "},
        {"BrindleView",
         {"--no-such-option"},
         2,
         "",
         "BrindleView: unknown option --no-such-option\n\nUsage: BrindleView "},
        // A bad value is a bad command line as well, even after a good option.
        {"BrindleHost",
         {"--headless", "--test-camera", "17"},
         2,
         "",
         "BrindleHost: --test-camera takes"},
        {"BrindleHost",
         {"--headless", "--listen", "example"},
         2,
         "",
         "BrindleHost: --listen needs"},
        {"BrindleView", {"--headless", "--connect"}, 2, "", "BrindleView: --connect needs a value"},
    };
    TempDir dir;
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.args[0]);
        ChildProcess child;
        std::string program =
            std::string(c.program) == "BrindleHost" ? HostProgram() : ViewProgram();
        ASSERT_TRUE(child.Start(program, c.args, dir.File("out"), "", dir.File("err")));
        EXPECT_EQ(child.Wait(30000), c.nExit);
        std::string out = ReadFileText(dir.File("out"));
        std::string err = ReadFileText(dir.File("err"));
        EXPECT_EQ(out.substr(0, c.outStart.size()), c.outStart);
        EXPECT_EQ(err.substr(0, c.errStart.size()), c.errStart);
        if (c.outStart.empty()) {
            EXPECT_EQ(out, "");
        }
        if (c.errStart.empty()) {
            EXPECT_EQ(err, "");
        }
    }
}

} // namespace
} // namespace brindle::test
