#include "common/error_codes.h"
#include "common/file_io.h"
#include "platform/clock.h"
#include "platform/computer_name.h"
#include "platform/data_folder.h"
#include "platform/display.h"
#include "platform/file_lock.h"
#include "platform/special_folder.h"
#include "platform/xdg.h"
#include "support/file_text.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using test::ReadFileText;
using test::ScopedEnv;
using test::TempDir;
using test::WriteFileText;

TEST(Xdg, ParsesUserDirsLikeTheShell) {
    struct Case {
        const char* text;
        std::optional<std::string> documents;
    };
    const Case cases[] = {
        {"XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n", "/h/Documents"},
        {"# comment\n  XDG_DOCUMENTS_DIR=\"/data/文書\"", "/data/文書"},
        {"XDG_DOCUMENTS_DIR=\"$HOME\"\n", "/h"},
        {"XDG_DOCUMENTS_DIR=\"$HOME/a \\\"b\\\"\"\n", "/h/a \"b\""},
        {"XDG_DOCUMENTS_DIR=$HOME/bare  \n", "/h/bare"},
        {"XDG_DOCUMENTS_DIR=\"/one\"\nXDG_DOCUMENTS_DIR=\"/two\"\n", "/two"},
        {"XDG_DOCUMENTS_DIR=\"relative\"\n", std::nullopt},
        {"XDG_DOCUMENTS_DIR=\"$HOMEX/a\"\n", std::nullopt},
        {"XDG_DOCUMENTS_DIRX=\"/x\"\nXDG_DESKTOP_DIR=\"/d\"\n", std::nullopt},
        {"XDG_DOCUMENTS_DIR=\"/unterminated", "/unterminated"},
        {"", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseUserDirs(c.text, "XDG_DOCUMENTS_DIR", "/h"), c.documents) << c.text;
}

class XdgEnvTest : public ::testing::Test {
  protected:
    XdgEnvTest()
        : home_("HOME", dir_.Path().c_str()), config_("XDG_CONFIG_HOME", nullptr),
          data_("XDG_DATA_HOME", "relative/ignored"), documents_("XDG_DOCUMENTS_DIR", nullptr),
          runtime_("XDG_RUNTIME_DIR", nullptr), cache_("XDG_CACHE_HOME", nullptr) {}
    TempDir dir_;
    ScopedEnv home_, config_, data_, documents_, runtime_, cache_;
};

TEST_F(XdgEnvTest, FoldersFromEnvironmentFileAndDefaults) {
    const std::string home = dir_.Path();
    EXPECT_EQ(HomeFolder(), home);
    EXPECT_EQ(XdgConfigHome(), home + "/.config");
    EXPECT_EQ(XdgDataHome(), home + "/.local/share") << "a relative value is ignored";
    EXPECT_EQ(XdgUserDirPath(XdgUserDir::Documents), home + "/Documents");

    fs::create_directories(home + "/.config");
    WriteFileText(home + "/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n"
                                                    "XDG_PICTURES_DIR=\"/pics\"\n");
    EXPECT_EQ(XdgUserDirPath(XdgUserDir::Documents), home + "/Docs");
    EXPECT_EQ(XdgUserDirPath(XdgUserDir::Desktop), home + "/Desktop");

    ScopedEnv direct("XDG_DOCUMENTS_DIR", "/env/docs");
    EXPECT_EQ(XdgUserDirPath(XdgUserDir::Documents), "/env/docs");

    struct Case {
        int csidl;
        std::string folder; // empty: no counterpart
    };
    const Case cases[] = {
        {CSIDL_PERSONAL, "/env/docs"},
        {CSIDL_MYPICTURES, "/pics"},
        {CSIDL_PROFILE, home},
        {CSIDL_APPDATA, home + "/.config"},
        {CSIDL_INTERNET_CACHE, home + "/.cache"},
        {0x24 /* WINDOWS */, ""},
        {0x0a /* BITBUCKET */, ""},
    };
    for (const Case& c : cases) {
        std::string folder = "stale";
        uint32_t err = SpecialFolderPath(c.csidl, folder);
        EXPECT_EQ(err, c.folder.empty() ? ERROR_FILE_NOT_FOUND_CODE : 0u) << c.csidl;
        EXPECT_EQ(folder, c.folder) << c.csidl;
    }
}

TEST_F(XdgEnvTest, DataFolderIsCreatedUnderDocumentsOrWhereTold) {
    std::string folder;
    ASSERT_EQ(OpenDataFolder("BrindleHost", "", folder), 0u);
    EXPECT_EQ(folder, dir_.Path() + "/Documents/BrindleHost");
    EXPECT_TRUE(fs::is_directory(folder));

    ASSERT_EQ(OpenDataFolder("BrindleView", dir_.File("a/b/"), folder), 0u);
    EXPECT_EQ(folder, dir_.File("a/b"));
    EXPECT_TRUE(fs::is_directory(folder));

    WriteFileText(dir_.File("plainfile"), "x");
    EXPECT_NE(OpenDataFolder("BrindleHost", dir_.File("plainfile"), folder), 0u);
    EXPECT_NE(OpenDataFolder("BrindleHost", dir_.File("plainfile/sub"), folder), 0u);
}

TEST(DataFolder, DataDirArgument) {
    struct Case {
        std::vector<const char*> argv;
        const char* folder;
    };
    const Case cases[] = {
        {{"BrindleHost"}, ""},
        {{"BrindleHost", "--data-dir", "/tmp/x"}, "/tmp/x"},
        {{"BrindleHost", "--headless", "--data-dir=/tmp/y"}, "/tmp/y"},
        {{"BrindleHost", "--data-dir=/a", "--data-dir", "/b"}, "/b"},
        {{"BrindleHost", "--data-dir"}, ""},
        {{"BrindleHost", "--data-directory=/z"}, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DataDirArgument(static_cast<int>(c.argv.size()), c.argv.data()), c.folder);
    EXPECT_FALSE(ProgramFolder().empty());
    EXPECT_EQ(ProgramFolder().back(), '/');
    EXPECT_EQ(ProgramFileTime().size(), 16u);
}

TEST_F(XdgEnvTest, WebDavLockLivesInTheRuntimeFolder) {
    std::string path;
    ASSERT_EQ(WebDavLockPath(path), 0u);
    EXPECT_EQ(path, dir_.Path() + "/.cache/BrindleHost - WebDAV") << "no runtime folder";
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir_.File("run").c_str());
    ASSERT_EQ(WebDavLockPath(path), 0u);
    EXPECT_EQ(path, dir_.File("run/BrindleHost - WebDAV"));
    EXPECT_TRUE(fs::is_directory(dir_.File("run")));
}

TEST(FileLock, ExcludesOtherHoldersInThisProcess) {
    TempDir dir;
    const std::string path = dir.File("x.lock");
    FileLock first, second;
    ASSERT_EQ(first.TryLock(path), 0u);
    EXPECT_TRUE(first.Held());
    EXPECT_EQ(second.TryLock(path), ERROR_SHARING_VIOLATION_CODE);
    EXPECT_FALSE(second.Held());

    std::thread waiter([&] { EXPECT_EQ(second.Lock(path), 0u); });
    first.Unlock();
    waiter.join();
    EXPECT_TRUE(second.Held());
    FileLock moved = std::move(second);
    EXPECT_EQ(first.TryLock(path), ERROR_SHARING_VIOLATION_CODE) << "a moved lock stays held";
    moved = FileLock();
    EXPECT_EQ(first.TryLock(path), 0u);

    EXPECT_NE(first.TryLock(dir.File("missing/x.lock")), 0u);
    EXPECT_FALSE(first.Held());
}

TEST(FileLock, ExcludesOtherProcessesAndDiesWithItsHolder) {
    TempDir dir;
    const std::string path = dir.File("BrindleHost - WebDAV");
    FileLock mine;
    ASSERT_EQ(mine.Lock(path), 0u);
    pid_t child = ::fork();
    if (child == 0) {
        FileLock other;
        _exit(other.TryLock(path) == ERROR_SHARING_VIOLATION_CODE ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the other process saw the lock";
    mine.Unlock();

    child = ::fork();
    if (child == 0) {
        FileLock held;
        held.Lock(path);
        _exit(0); // dies holding it
    }
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(mine.TryLock(path), 0u);
}

TEST(FileLock, SingleInstancePerDataFolder) {
    TempDir a, b;
    FileLock first, second, elsewhere;
    ASSERT_EQ(LockSingleInstance(a.Path(), "BrindleHost", first), 0u);
    EXPECT_EQ(LockSingleInstance(a.Path(), "BrindleHost", second), ERROR_SHARING_VIOLATION_CODE);
    EXPECT_EQ(LockSingleInstance(b.Path(), "BrindleHost", elsewhere), 0u);
    EXPECT_EQ(LockSingleInstance(a.Path(), "BrindleView", second), 0u);
}

TEST(FileIo, AtomicReplaceKeepsModeFollowsLinksAndLeavesNoLitter) {
    TempDir dir;
    const std::string path = dir.File("s.ini");
    ASSERT_EQ(WriteFileAtomically(path, "one"), 0u);
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "a new file is the owner's alone";

    ::chmod(path.c_str(), 0640);
    fs::create_symlink(path, dir.File("link.ini"));
    ASSERT_EQ(WriteFileAtomically(dir.File("link.ini"), "two"), 0u);
    EXPECT_TRUE(fs::is_symlink(dir.File("link.ini")));
    EXPECT_EQ(ReadFileText(path), "two");
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    EXPECT_NE(WriteFileAtomically(dir.File("missing/x"), "x"), 0u);
    fs::create_directory(dir.File("folder"));
    EXPECT_NE(WriteFileAtomically(dir.File("folder"), "x"), 0u);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"folder", "link.ini", "s.ini"}));
}

TEST(FileIo, ReadWholeFileRefusesOversizedFiles) {
    TempDir dir;
    WriteFileText(dir.File("f"), std::string(100, 'x'));
    std::string bytes = "stale";
    EXPECT_EQ(ReadWholeFile(dir.File("f"), 100, bytes), 0u);
    EXPECT_EQ(bytes.size(), 100u);
    EXPECT_EQ(ReadWholeFile(dir.File("f"), 99, bytes), ERROR_NOT_ENOUGH_MEMORY_CODE);
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(ReadWholeFile(dir.File("none"), 99, bytes), ERROR_FILE_NOT_FOUND_CODE);
}

TEST(ComputerName, EnvironmentFirstThenShortHostName) {
    {
        ScopedEnv name("COMPUTERNAME", "SHOP-PC");
        EXPECT_EQ(ComputerName(), "SHOP-PC");
    }
    ScopedEnv name("COMPUTERNAME", "");
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    std::string expected(host);
    expected = expected.substr(0, expected.find('.'));
    EXPECT_EQ(ComputerName(), expected);
}

TEST(Clock, TickIsNeverZeroAndFileTimesCountFrom1601) {
    EXPECT_EQ(NonZeroTickOf(0), 1u);
    EXPECT_EQ(NonZeroTickOf(0xFFFFFFFF), 0xFFFFFFFFu);
    EXPECT_NE(NonZeroTick(), 0u);
    SystemTime epoch{1970, 1, 4, 1, 0, 0, 0, 0};
    EXPECT_EQ(SystemTimeToFileTime(epoch), 116444736000000000ull);
    SystemTime leap{2024, 2, 4, 29, 23, 59, 58, 999};
    SystemTime back = FileTimeToSystemTime(SystemTimeToFileTime(leap));
    EXPECT_EQ(back.wYear, 2024);
    EXPECT_EQ(back.wMonth, 2);
    EXPECT_EQ(back.wDay, 29);
    EXPECT_EQ(back.wDayOfWeek, 4) << "2024-02-29 was a Thursday";
    EXPECT_EQ(back.wMilliseconds, 999);
}

// An X display answers when its local socket listens; a display that names
// no listening socket, or that does not parse, does not.
TEST(DisplayTest, LocalXDisplayAnswersOnlyWhenItsSocketListens) {
    TempDir dir;
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = dir.Path() + "/X7";
    ASSERT_LT(path.size(), sizeof(address.sun_path));
    std::copy(path.begin(), path.end(), address.sun_path);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    struct Case {
        const char* name;
        bool fAnswers;
    } cases[] = {{":7", true},  {":7.0", true},  {"unix:7", true}, {":8", false},
                 {"", false},   {":", false},    {":x", false},    {"7", false},
                 {":99999", false}};
    for (const Case& c : cases)
        EXPECT_EQ(XDisplayAnswers(c.name, dir.Path()), c.fAnswers) << c.name;
    ::close(fd);
    EXPECT_FALSE(XDisplayAnswers(":7", dir.Path() + "/none"));
}

} // namespace
} // namespace brindle
