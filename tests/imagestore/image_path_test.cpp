#include "imagestore/image_path.h"

#include "common/error_codes.h"
#include "imagestore/imagestore_test_util.h"
#include "support/file_text.h"
#include "support/system_time.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using test::ReadFileText;
using test::TempDir;
using test::TimeOf;
using test::WriteTreeFile;

TEST(ImageKey, PacksDayTimeAndMilliseconds) {
    const uint64_t key = ImageKeyFromTime(TimeOf(2019, 1, 6, 23, 59, 59, 999));
    EXPECT_EQ(key, (uint64_t{20190106} << 32) | (uint64_t{235959} << 12) | 999u);
    EXPECT_EQ(ImageKeyDay(key), 20190106u);
    EXPECT_EQ(ImageKeyTime(key), 235959u);
    EXPECT_EQ(ImageKeyMilli(key), 999u);
}

TEST(ImageKey, OrdersByCaptureTimeAcrossDayMonthAndYearEnds) {
    struct Case {
        SystemTime earlier, later;
    } cases[] = {
        {TimeOf(2019, 1, 6, 23, 59, 59, 999), TimeOf(2019, 1, 7)},
        {TimeOf(2024, 2, 29, 23, 59, 59, 999), TimeOf(2024, 3, 1)},
        {TimeOf(2019, 12, 31, 23, 59, 59, 999), TimeOf(2020, 1, 1)},
        {TimeOf(2019, 1, 6, 12, 0, 0, 999), TimeOf(2019, 1, 6, 12, 0, 1, 0)},
        {TimeOf(2019, 1, 6, 9, 59, 59, 0), TimeOf(2019, 1, 6, 10, 0, 0, 0)},
        {TimeOf(2019, 1, 6, 12, 0, 0, 1), TimeOf(2019, 1, 6, 12, 0, 0, 2)},
    };
    for (const Case& c : cases)
        EXPECT_LT(ImageKeyFromTime(c.earlier), ImageKeyFromTime(c.later)) << DayNumber(c.later);
}

TEST(ImageKey, FileTimeRoundTripAndValidity) {
    const uint64_t key = ImageKeyFromTime(TimeOf(2024, 2, 29, 13, 5, 7, 42));
    EXPECT_EQ(FileTimeToImageKey(ImageKeyToFileTime(key)), key);
    EXPECT_EQ(ImageKeyToFileTime(key) - ImageKeyToFileTime(ImageKeyFromTime(TimeOf(2024, 2, 29))),
              (((13ull * 60 + 5) * 60 + 7) * 1000 + 42) * 10000);
    EXPECT_EQ(ImageKeyToTime(key).wDayOfWeek, 4); // a Thursday

    struct Case {
        SystemTime st;
        bool valid;
    } cases[] = {
        {TimeOf(2024, 2, 29), true},
        {TimeOf(2023, 2, 29), false},
        {TimeOf(2000, 2, 29), true},
        {TimeOf(1900, 2, 29), false},
        {TimeOf(2024, 4, 31), false},
        {TimeOf(2024, 13, 1), false},
        {TimeOf(2024, 1, 0), false},
        {TimeOf(2024, 1, 1, 24), false},
        {TimeOf(2024, 1, 1, 0, 60), false},
        {TimeOf(2024, 1, 1, 0, 0, 60), false},
        {TimeOf(2024, 1, 1, 0, 0, 0, 1000), false},
        {TimeOf(0, 1, 1), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsValidTime(c.st), c.valid) << DayNumber(c.st) << " " << TimeNumber(c.st);
        EXPECT_EQ(IsValidImageKey(ImageKeyFromTime(c.st)), c.valid) << DayNumber(c.st);
    }
}

TEST(ImageTree, PathsOfBothPrograms) {
    const ImageTree host{"/data/images", "", "USB_Camera[2]"};
    const ImageTree view{"/data/view/", "cam-server", "USB_Camera"};
    const uint64_t key = ImageKeyFromTime(TimeOf(2019, 1, 6, 7, 8, 9, 10));
    std::string path;
    ASSERT_EQ(ImageFilePath(host, key, path), 0u);
    EXPECT_EQ(path, "/data/images/USB_Camera[2]/20190106/070809-010.jpg");
    ASSERT_EQ(ImageFilePath(view, key, path), 0u);
    EXPECT_EQ(path, "/data/view/cam-server/USB_Camera/20190106/070809-010.jpg");
    ASSERT_EQ(ListFilePath(host, path), 0u);
    EXPECT_EQ(path, "/data/images/USB_Camera[2].lst");
    ASSERT_EQ(ListFilePath(view, path), 0u);
    EXPECT_EQ(path, "/data/view/cam-server/USB_Camera.lst");
}

TEST(ImageTree, RefusesLevelsThatWouldLeaveTheTree) {
    const ImageTree bad[] = {
        {"", "", "cam"},          {"/d", "", ""},
        {"/d", "", ".."},         {"/d", "", "."},
        {"/d", "", "a/b"},        {"/d", "..", "cam"},
        {"/d", "x/../..", "cam"}, {"/d", "", std::string("a\0b", 3)},
    };
    std::string path = "unchanged";
    for (const ImageTree& tree : bad) {
        EXPECT_EQ(CameraFolderPath(tree, path), ERROR_INVALID_PARAMETER_CODE) << tree.cCamera;
        EXPECT_EQ(CreateImagePath(tree, TimeOf(2024, 1, 1), path), ERROR_INVALID_PARAMETER_CODE);
    }
    EXPECT_EQ(path, "unchanged");
}

TEST(ImageTree, WriterCreatesMissingFoldersButNotTheImageFolder) {
    TempDir tmp;
    const SystemTime st = TimeOf(2024, 3, 1, 0, 0, 0, 5);
    std::string path;
    ASSERT_EQ(CreateImagePath({tmp.Path(), "srv", "cam"}, st, path), 0u);
    EXPECT_EQ(path, tmp.File("srv/cam/20240301/000000-005.jpg"));
    EXPECT_TRUE(fs::is_directory(tmp.File("srv/cam/20240301")));
    // Existing folders are fine; the server's form and the reader's agree.
    ASSERT_EQ(CreateImagePath({tmp.Path(), "srv", "cam"}, st, path), 0u);
    std::string reader;
    ASSERT_EQ(ImageFilePath({tmp.Path(), "srv", "cam"}, ImageKeyFromTime(st), reader), 0u);
    EXPECT_EQ(reader, path);

    EXPECT_EQ(CreateImagePath({tmp.File("unmounted"), "", "cam"}, st, path),
              ERROR_FILE_NOT_FOUND_CODE);
    EXPECT_FALSE(fs::exists(tmp.File("unmounted")));
    EXPECT_EQ(CreateImagePath({tmp.Path(), "", "cam"}, TimeOf(2023, 2, 29), path),
              ERROR_INVALID_PARAMETER_CODE);
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ImageFile, SaveMakesTheFoldersReplacesWholeAndLeavesNoLitter) {
    TempDir tmp;
    const ImageTree tree{tmp.Path(), "srv", "cam"};
    const SystemTime st = TimeOf(2024, 3, 1, 12, 0, 0, 5);
    const std::string big(100000, 'j');
    ASSERT_EQ(SaveImageFile(tree, st, big.data(), big.size()), 0u);
    ASSERT_EQ(SaveImageFile(tree, st, "short", 5), 0u);
    const std::string path = tmp.File("srv/cam/20240301/120000-005.jpg");
    std::vector<uint8_t> data;
    ASSERT_EQ(ReadImageFile(path, data), 0u);
    EXPECT_EQ(std::string(data.begin(), data.end()), "short");
    EXPECT_EQ(Names(tmp.File("srv/cam/20240301")), std::vector<std::string>{"120000-005.jpg"});
    EXPECT_EQ(Names(tmp.File("srv/cam/.partial")), std::vector<std::string>{});

    EXPECT_EQ(ReadImageFile(path, data, 4), ERROR_BUFFER_OVERFLOW_CODE);
    EXPECT_EQ(ReadImageFile(tmp.File("missing.jpg"), data), ERROR_FILE_NOT_FOUND_CODE);
    EXPECT_EQ(ReadImageFile(tmp.Path(), data), ERROR_INVALID_PARAMETER_CODE);
    EXPECT_EQ(SaveImageFile({tmp.File("unmounted"), "", "cam"}, st, "x", 1),
              ERROR_FILE_NOT_FOUND_CODE);
    EXPECT_FALSE(fs::exists(tmp.File("unmounted")));
}

TEST(ImageFile, SymbolicLinksAreNotFollowed) {
    TempDir tmp;
    WriteTreeFile(tmp.File("outside.txt"), "keep");
    WriteTreeFile(tmp.File("cam/20240301/x"));
    const std::string link = tmp.File("cam/20240301/120000-000.jpg");
    fs::create_symlink(tmp.File("outside.txt"), link);
    std::vector<uint8_t> data;
    EXPECT_NE(ReadImageFile(link, data), 0u);
    // The image takes the link's place; the link's target is not written.
    ASSERT_EQ(SaveImageFile({tmp.Path(), "", "cam"}, TimeOf(2024, 3, 1, 12), "image", 5), 0u);
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(ReadFileText(link), "image");
    EXPECT_EQ(ReadFileText(tmp.File("outside.txt")), "keep");
}

// A process that dies in the middle of writing an image, or a write that
// fails part way, leaves no cut image under an image name: the old image of
// that name stays whole, and what is left of the new one is cleared at the
// next start. The kernel's file size limit stops the write part way; with
// SIGXFSZ at its default it kills the writer there, as a crash would.
TEST(ImageFile, AnInterruptedSaveLeavesNoCutImage) {
    for (bool fKilled : {true, false}) {
        SCOPED_TRACE(fKilled ? "killed while writing" : "write failed");
        TempDir tmp;
        const ImageTree tree{tmp.Path(), "", "cam"};
        const SystemTime st = TimeOf(2024, 3, 1, 12);
        const std::string path = tmp.File("cam/20240301/120000-000.jpg");
        ASSERT_EQ(SaveImageFile(tree, st, "old", 3), 0u);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::signal(SIGXFSZ, fKilled ? SIG_DFL : SIG_IGN);
            struct rlimit noCore = {0, 0};
            ::setrlimit(RLIMIT_CORE, &noCore);
            struct rlimit lim = {4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &lim);
            const std::string big(100000, 'j');
            ::_exit(SaveImageFile(tree, st, big.data(), big.size()) != 0 ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        if (fKilled)
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
        else
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(ReadFileText(path), "old");
        EXPECT_EQ(Names(tmp.File("cam/20240301")), std::vector<std::string>{"120000-000.jpg"});
        EXPECT_EQ(Names(tmp.File("cam/.partial")).size(), fKilled ? 1u : 0u);

        RemoveLeftoverImageTemps(tmp.Path());
        EXPECT_EQ(Names(tmp.File("cam/.partial")), std::vector<std::string>{});
    }
}

TEST(ImageFile, LeftoversOfBothLayoutsAndOnlyThemGoAtStart) {
    TempDir tmp;
    const std::vector<std::string> leftovers = {
        "cam/.partial/.120000-000.jpg.tmpAb3dE9",     // BrindleHost image
        ".cam.lst.tmp0a1B2c",                         // BrindleHost list file
        "srv/cam/.partial/.120000-000.jpg.tmpZZZZZZ", // BrindleView image
        "srv/.cam.lst.tmpq1w2e3",                     // BrindleView list file
    };
    const std::vector<std::string> kept = {
        "cam/20240301/120000-000.jpg", "cam.lst", ".hidden", "srv/cam/20240301/.x.tmp123456x",
        "srv/cam.lst.tmpABCDEF",
    };
    for (const std::string& name : leftovers)
        WriteTreeFile(tmp.File(name));
    for (const std::string& name : kept)
        WriteTreeFile(tmp.File(name));
    RemoveLeftoverImageTemps(tmp.Path());
    for (const std::string& name : leftovers)
        EXPECT_FALSE(fs::exists(tmp.File(name))) << name;
    for (const std::string& name : kept)
        EXPECT_TRUE(fs::exists(tmp.File(name))) << name;
}

} // namespace
} // namespace brindle
