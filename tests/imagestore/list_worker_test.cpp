#include "imagestore/list_worker.h"

#include "imagestore/imagestore_test_util.h"
#include "support/file_text.h"
#include "support/system_time.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <filesystem>
#include <set>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using test::ReadFileText;
using test::TempDir;
using test::WriteFileText;
using test::WriteTreeFile;

SystemTime Day(int y, int m, int d) {
    return test::TimeOf(y, m, d, 12);
}

// Runs one listing of `camera` synchronously and returns the list file text.
std::string RunAndList(const std::string& camera, uint32_t nThreshold, uint32_t nStartDay = 0,
                       ListingStats* stats = nullptr) {
    const std::string list = camera + ".lst";
    UniqueFd fd(::open(list.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    std::atomic<bool> stop{false}, written{false};
    ListingStats s = RunListing({camera, nThreshold, nStartDay}, fd.Get(), stop, &written);
    EXPECT_TRUE(written.load());
    if (stats != nullptr)
        *stats = s;
    return ReadFileText(list);
}

std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.insert(e.path().filename().string());
    return names;
}

TEST(ThresholdDay, CountsBackFromTheLocalDate) {
    struct Case {
        SystemTime now;
        int nDays;
        uint32_t expected;
    } cases[] = {
        {Day(2024, 3, 1), 1, 20240229},   {Day(2023, 3, 1), 1, 20230228},
        {Day(2024, 1, 1), 1, 20231231},   {Day(2024, 3, 31), 31, 20240229},
        {Day(2024, 3, 1), 0, 0},          {Day(2024, 3, 1), -5, 0},
        {Day(2024, 3, 1), 366, 20230301}, {Day(2024, 3, 1), 10000000, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ThresholdDay(c.now, c.nDays), c.expected) << c.nDays;
}

TEST(RunListing, OneDayOnTheFirstOfMarchKeepsTheLastOfFebruaryAndToday) {
    for (const int year : {2024, 2023}) {
        TempDir tmp;
        const std::string cam = tmp.File("cam");
        const std::string lastFeb = year == 2024 ? "20240229" : "20230228";
        const std::string before = year == 2024 ? "20240228" : "20230227";
        const std::string today = std::to_string(year) + "0301";
        for (const std::string& day : {before, lastFeb, today})
            WriteTreeFile(cam + "/" + day + "/120000-000.jpg");

        ListingStats stats;
        const std::string list = RunAndList(cam, ThresholdDay(Day(year, 3, 1), 1), 0, &stats);
        EXPECT_EQ(list, cam + "/" + lastFeb + "/120000-000.jpg\r\n" + cam + "/" + today +
                            "/120000-000.jpg\r\n");
        EXPECT_EQ(Entries(cam), (std::set<std::string>{lastFeb, today}));
        EXPECT_EQ(stats.nDaysRemoved, 1u);
        EXPECT_EQ(stats.nRemoveErrors, 0u);
    }
}

TEST(RunListing, ListsDaysAndFilesInNameOrderFromTheStartDay) {
    TempDir tmp;
    const std::string cam = tmp.File("cam");
    // Created out of order; listed in name order.
    for (const char* f :
         {"20240302/000001-000.jpg", "20240301/235959-999.jpg", "20240302/000000-500.jpg",
          "20240301/000000-000.jpg", "20240228/120000-000.jpg"})
        WriteTreeFile(cam + "/" + f);
    EXPECT_EQ(RunAndList(cam, 0),
              cam + "/20240228/120000-000.jpg\r\n" + cam + "/20240301/000000-000.jpg\r\n" + cam +
                  "/20240301/235959-999.jpg\r\n" + cam + "/20240302/000000-500.jpg\r\n" + cam +
                  "/20240302/000001-000.jpg\r\n");
    EXPECT_EQ(RunAndList(cam, 0, 20240302),
              cam + "/20240302/000000-500.jpg\r\n" + cam + "/20240302/000001-000.jpg\r\n");
    // Nothing was removed with T = 0, and a threshold older than every day
    // removes nothing either.
    RunAndList(cam, 20240101);
    EXPECT_EQ(Entries(cam).size(), 3u);
}

TEST(RunListing, DayFoldersOlderThanTheThresholdAreNeitherListedNorKept) {
    TempDir tmp;
    const std::string cam = tmp.File("cam");
    WriteTreeFile(cam + "/20240101/120000-000.jpg");
    WriteTreeFile(cam + "/20240101/deeper/more/120000-000.jpg");
    WriteTreeFile(cam + "/20240102/notes.txt"); // named like a day, holding no image
    WriteTreeFile(cam + "/20240301/120000-000.jpg");
    ListingStats stats;
    EXPECT_EQ(RunAndList(cam, 20240201, 0, &stats), cam + "/20240301/120000-000.jpg\r\n");
    EXPECT_EQ(Entries(cam), std::set<std::string>{"20240301"});
    EXPECT_EQ(stats.nDaysRemoved, 2u);
    EXPECT_EQ(stats.nRemoveErrors, 0u);
}

TEST(RunListing, OnlyEightDigitFoldersCountAsDays) {
    TempDir tmp;
    const std::string cam = tmp.File("cam");
    for (const char* name : {"2024010", "202401011", "2024010a", "backup", "00000000x"})
        WriteTreeFile(cam + "/" + name + "/120000-000.jpg");
    WriteTreeFile(cam + "/20240101", "a plain file named like a day");
    WriteTreeFile(tmp.File("empty/keep"));
    fs::create_directories(tmp.File("empty/cam"));
    ListingStats stats;
    EXPECT_EQ(RunAndList(cam, 20991231, 0, &stats), "");
    EXPECT_EQ(RunAndList(tmp.File("empty/cam"), 20991231), ""); // no day folders at all
    EXPECT_EQ(RunAndList(tmp.File("missing"), 20991231), "");   // no camera folder at all
    EXPECT_EQ(Entries(cam).size(), 6u);
    EXPECT_EQ(stats.nDaysRemoved, 0u);
}

TEST(RunListing, SymbolicLinksAreNeitherFollowedNorTheirTargetsRemoved) {
    TempDir tmp;
    const std::string cam = tmp.File("cam");
    const std::string outside = tmp.File("outside");
    WriteTreeFile(outside + "/120000-000.jpg", "precious");
    WriteTreeFile(cam + "/20240101/120000-000.jpg");
    WriteTreeFile(cam + "/20240301/120000-000.jpg");
    // A day-named link to a folder outside, a link inside an old day folder,
    // and an image-named link inside a listed day folder.
    fs::create_directory_symlink(outside, cam + "/20200101");
    fs::create_directory_symlink(outside, cam + "/20240301/linked");
    fs::create_directory_symlink(outside, cam + "/20240101/linked");
    fs::create_symlink(outside + "/120000-000.jpg", cam + "/20240301/130000-000.jpg");

    ListingStats stats;
    EXPECT_EQ(RunAndList(cam, 20240201, 0, &stats), cam + "/20240301/120000-000.jpg\r\n");
    EXPECT_EQ(ReadFileText(outside + "/120000-000.jpg"), "precious");
    EXPECT_TRUE(fs::is_symlink(cam + "/20200101"));
    EXPECT_FALSE(fs::exists(cam + "/20240101"));
    EXPECT_EQ(stats.nRemoveErrors, 0u);
}

TEST(RunListing, TakesAnyPathSafely) {
    TempDir tmp;
    // Blanks, non-ASCII and what a shell would act on.
    const std::string folder =
        tmp.File("my images $(touch pwned) `id` ; & | > * ? 'q' \"d\" 画像 %PATH%");
    const std::string cam = folder + "/cam";
    WriteTreeFile(cam + "/20240101/120000-000.jpg");
    WriteTreeFile(cam + "/20240301/120000-000.jpg");
    EXPECT_EQ(RunAndList(cam, 20240201), cam + "/20240301/120000-000.jpg\r\n");
    EXPECT_EQ(Entries(cam), std::set<std::string>{"20240301"});
    EXPECT_EQ(Entries(tmp.Path()).size(), 1u); // nothing was run, nothing created
}

TEST(RunListing, ALineBreakInAFileNameStaysInsideItsLine) {
    // Otherwise the front part would read as the image "120000-000.jpg".
    TempDir tmp;
    const std::string cam = tmp.File("cam");
    WriteTreeFile(cam + "/20240301/120000-000.jpg\r\nx");
    EXPECT_EQ(RunAndList(cam, 0), cam + "/20240301/120000-000.jpg??x\r\n");
}

TEST(ListWorker, RunsInTheBackgroundAndReportsWhenWritten) {
    TempDir tmp;
    const std::string cam = tmp.File("cam");
    WriteTreeFile(cam + "/20240101/120000-000.jpg");
    WriteTreeFile(cam + "/20240301/120000-000.jpg");
    const std::string list = tmp.File("cam.lst");
    WriteFileText(list, "an old list\r\n");
    ListingJob job{cam, 20240201, 0};
    UniqueFd writer, reader;
    ASSERT_TRUE(OpenListFile(list, job, writer, reader));
    EXPECT_FALSE(fs::exists(list)) << "the old list goes at once";
    std::unique_ptr<ListWorker> worker = ListWorker::Start(job, std::move(writer));
    ASSERT_NE(worker, nullptr);
    worker->Wait();
    EXPECT_TRUE(worker->ListWritten());
    EXPECT_TRUE(worker->Done());
    EXPECT_EQ(worker->Stats().nLines, 1u);
    EXPECT_EQ(worker->Stats().nDaysRemoved, 1u);
    const std::string expected = cam + "/20240301/120000-000.jpg\r\n";
    EXPECT_EQ(ReadFileText(list), expected);
    // The reader opened before the run sees the same list.
    std::string read(expected.size() + 1, '\0');
    EXPECT_EQ(::read(reader.Get(), read.data(), read.size()), ssize_t(expected.size()));
    EXPECT_EQ(Entries(tmp.Path()), (std::set<std::string>{"cam", "cam.lst"}));
}

// The list file appears under its name only whole: while it is written it
// has a temporary name, and a run stopped part way leaves neither.
TEST(ListWorker, TheListFileAppearsOnlyWhole) {
    TempDir tmp;
    const std::string cam = tmp.File("cam");
    WriteTreeFile(cam + "/20240301/120000-000.jpg");
    const std::string list = tmp.File("cam.lst");
    for (bool fStopped : {false, true}) {
        ListingJob job{cam, 0, 0};
        UniqueFd writer, reader;
        ASSERT_TRUE(OpenListFile(list, job, writer, reader));
        EXPECT_EQ(Entries(tmp.Path()).size(), 2u) << "the camera and a hidden temporary file";
        std::atomic<bool> stop{fStopped}, written{false};
        RunListing(job, writer.Get(), stop, &written);
        EXPECT_EQ(fs::exists(list), !fStopped);
        const std::set<std::string> expected =
            fStopped ? std::set<std::string>{"cam"} : std::set<std::string>{"cam", "cam.lst"};
        EXPECT_EQ(Entries(tmp.Path()), expected);
    }
}

} // namespace
} // namespace brindle
