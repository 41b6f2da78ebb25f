// The storage account commands of both programs, run as the user runs them:
// --set-storage with the user name and password on standard input,
// --delete-storage, in a temporary data folder.
#include "common/ini_file.h"
#include "e2e_support.h"
#include "platform/file_lock.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace brindle::test {
namespace {

struct Program {
    std::string path;
    std::string ini;
    std::string name;
};

class StorageCommand : public ::testing::TestWithParam<int> {
  protected:
    Program Prog() const {
        return GetParam() == 0 ? Program{HostProgram(), "BrindleHost.ini", "BrindleHost"}
                               : Program{ViewProgram(), "BrindleView.ini", "BrindleView"};
    }
    std::string Ini() const { return dir.File(Prog().ini); }
    // Exit status; standard output and error land in out and err.
    int Run(const std::vector<std::string>& args, const std::string& input = "") {
        std::vector<std::string> all = args;
        all.insert(all.end(), {"--data-dir", dir.Path()});
        ChildProcess child;
        if (!child.Start(Prog().path, all, dir.File("cmd.out"), input, dir.File("cmd.err")))
            return -3;
        int nExit = child.Wait(30000);
        out = ReadFileText(dir.File("cmd.out"));
        err = ReadFileText(dir.File("cmd.err"));
        return nExit;
    }
    std::string Key(const std::string& section, const char* key) {
        std::string value;
        IniReadKey(Ini(), section, key, value);
        return value;
    }

    TempDir dir;
    std::string out, err;
};

TEST_P(StorageCommand, SetStoresTheAccountAndDeleteRemovesIt) {
    const std::string uri = "https://127.0.0.1:8443/dav";
    ASSERT_EQ(Run({"--set-storage", uri, "--any-certificate"}, "alice\ns3cret pass\n"), 0) << err;
    EXPECT_EQ(Key("WebDAV", "URI"), uri);
    EXPECT_EQ(Key(uri, "User"), "alice");
    EXPECT_EQ(Key(uri, "SSL"), "2");
    EXPECT_EQ(Key(uri, "AnyCert"), "1");
    EXPECT_EQ(Key(uri, "Setup"), "1");
    EXPECT_EQ(Key(uri, "Passwd").size(), 2 * std::string("s3cret pass").size());
    EXPECT_EQ(ReadFileText(Ini()).find("s3cret"), std::string::npos);

    // Changing it keeps the account; without the option the certificate
    // is verified again. A plain URI stores the negated kind.
    ASSERT_EQ(Run({"--set-storage", uri}, "bob\nother\r\n"), 0) << err;
    EXPECT_EQ(Key(uri, "User"), "bob");
    EXPECT_EQ(Key(uri, "AnyCert"), "0");
    ASSERT_EQ(Run({"--set-storage=http://localhost/x"}, "carol\npw\n"), 0) << err;
    EXPECT_EQ(Key("http://localhost/x", "SSL"), "-2");
    EXPECT_EQ(Key("WebDAV", "URI"), "http://localhost/x|" + uri);

    // Deleting is refused while the program runs on the data folder.
    {
        FileLock running;
        ASSERT_EQ(LockSingleInstance(dir.Path(), Prog().name, running), 0u);
        EXPECT_EQ(Run({"--delete-storage", uri}), 1);
        EXPECT_EQ(Key(uri, "User"), "bob");
    }
    ASSERT_EQ(Run({"--delete-storage", uri}), 0) << err;
    EXPECT_EQ(Key("WebDAV", "URI"), "http://localhost/x");
    EXPECT_EQ(Key(uri, "User"), "");
    EXPECT_EQ(ReadFileText(Ini()).find("[" + uri + "]"), std::string::npos);
    EXPECT_EQ(Run({"--delete-storage", uri}), 1);
    EXPECT_NE(err.find(uri), std::string::npos);
}

TEST_P(StorageCommand, BadInputSavesNothing) {
    struct Case {
        const char* uri;
        const char* input;
        std::vector<const char*> messages;
    };
    const Case cases[] = {
        {"ftp://host/dav", "alice\npw\n", {"URIにhttp://またはhttps://がありません!"}},
        {"http://host:70000/dav", "alice\npw\n", {"URIが正しくありません!"}},
        {"http://ho st/dav", "alice\npw\n", {"URIが正しくありません!"}},
        {"http://host/dav",
         "\n\n",
         {"ユーザ名が入力されていません!", "パスワードが入力されていません!"}},
        {"http://host/dav",
         "",
         {"ユーザ名が入力されていません!", "パスワードが入力されていません!"}},
        {"http://host/dav", "al:ice\npw\n", {"ユーザ名が正しくありません!"}},
        {"http://host/dav", "alice\npw\x7f\n", {"パスワードが正しくありません!"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.uri + std::string(" / ") + c.input);
        EXPECT_EQ(Run({"--set-storage", c.uri}, c.input), 1);
        for (const char* message : c.messages)
            EXPECT_NE(err.find(Prog().name + ": " + message + "\n"), std::string::npos) << err;
        EXPECT_FALSE(std::filesystem::exists(Ini()) && !ReadFileText(Ini()).empty())
            << ReadFileText(Ini());
    }
    // A missing URI is a usage error.
    EXPECT_NE(Run({"--set-storage="}), 0);
    EXPECT_FALSE(std::filesystem::exists(Ini()) && !ReadFileText(Ini()).empty());
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, StorageCommand, ::testing::Values(0, 1),
                         [](const auto& info) {
                             return std::string(info.param == 0 ? "Host" : "View");
                         });

} // namespace
} // namespace brindle::test
