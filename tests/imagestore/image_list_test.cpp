#include "imagestore/image_list.h"

#include "common/error_codes.h"
#include "common/log.h"
#include "imagestore/imagestore_test_util.h"
#include "imagestore/list_file.h"
#include "support/file_text.h"
#include "support/system_time.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <vector>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using test::ReadFileText;
using test::TempDir;
using test::WriteTreeFile;

uint64_t Key(uint32_t nDay, uint32_t nTime, uint32_t nMilli = 0) {
    return MakeImageKey(nDay, nTime, nMilli);
}

std::vector<uint64_t> Items(const ViewerEntry& entry) {
    return std::vector<uint64_t>(entry.pItems.get(), entry.pItems.get() + entry.nValidCount);
}

// A camera tree in a temporary folder, listed through a ViewerEntry with the
// clock on 1 March 2024.
class ImageListTest : public ::testing::Test {
  protected:
    void SetUp() override { clock_.SetLocalNow(test::TimeOf(2024, 3, 1, 12)); }

    std::string Cam() const { return tmp_.File("cam"); }
    void Add(const std::string& dayAndFile) {
        const std::string path = Cam() + "/" + dayAndFile;
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
        if (!fd) {
            fs::create_directories(fs::path(path).parent_path());
            fd.Reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
        }
        ASSERT_TRUE(fd.Valid()) << path;
    }

    // Starts or continues a listing, then reads it to its end.
    int64_t ListAll(int nDays = 0) {
        ListFiles(entry_, tree_, nDays, clock_);
        Finish();
        return entry_.nValidCount;
    }
    void Finish() {
        if (entry_.pListWorker)
            entry_.pListWorker->Wait();
        ListFilesSub(entry_);
        EXPECT_FALSE(IsListing(entry_));
    }

    TempDir tmp_;
    ImageTree tree_{tmp_.Path(), "", "cam"};
    ManualClock clock_;
    ViewerEntry entry_;
};

TEST_F(ImageListTest, AnEmptyFolderGivesAnEmptyListAndSkippingChangesNothing) {
    fs::create_directories(Cam());
    entry_.nCurrentIndex = 3;
    EXPECT_EQ(ListAll(), 0);
    EXPECT_EQ(SkipImageIndex(entry_, -SKIP_MINUTE), 3);
    EXPECT_EQ(SkipImageIndex(entry_, SKIP_DAY), 3);
    EXPECT_EQ(ReadFileText(Cam() + ".lst"), "");
    std::string path;
    EXPECT_EQ(LoadImagePath(entry_, tree_, 0, path), ERROR_INVALID_PARAMETER_CODE);
}

TEST_F(ImageListTest, RelistingKeepsItemsAndAppendsNewImages) {
    Add("20240229/235959-999.jpg");
    Add("20240301/000000-000.jpg");
    Add("20240301/080000-000.jpg");
    ASSERT_EQ(ListAll(), 3);
    const std::vector<uint64_t> first = Items(entry_);
    EXPECT_EQ(first, (std::vector<uint64_t>{Key(20240229, 235959, 999), Key(20240301, 0),
                                            Key(20240301, 80000)}));

    // Unchanged: only the last day is listed again, and nothing changes.
    ASSERT_EQ(ListAll(), 3);
    EXPECT_EQ(Items(entry_), first);
    EXPECT_EQ(ReadFileText(Cam() + ".lst"),
              Cam() + "/20240301/000000-000.jpg\r\n" + Cam() + "/20240301/080000-000.jpg\r\n");

    // A new image in the last day and a new day are appended.
    Add("20240301/090000-000.jpg");
    Add("20240302/000000-001.jpg");
    ASSERT_EQ(ListAll(), 5);
    EXPECT_EQ(entry_.pItems[3], Key(20240301, 90000));
    EXPECT_EQ(entry_.pItems[4], Key(20240302, 0, 1));
    EXPECT_EQ(entry_.nWritePos, entry_.nValidCount);

    std::string path;
    ASSERT_EQ(LoadImagePath(entry_, tree_, 4, path), 0u);
    EXPECT_EQ(path, Cam() + "/20240302/000000-001.jpg");
    EXPECT_TRUE(fs::exists(path));
}

TEST_F(ImageListTest, AForeignFileEndsTheListingWithTheItemsBeforeItKept) {
    Add("20240229/120000-000.jpg");
    Add("20240301/100000-000.jpg");
    Add("20240301/100000-000.jpg.part"); // name order: right after the image above
    Add("20240301/110000-000.jpg");
    Add("20240302/120000-000.jpg");
    EXPECT_EQ(ListAll(), 2);
    EXPECT_EQ(Items(entry_), (std::vector<uint64_t>{Key(20240229, 120000), Key(20240301, 100000)}));
}

TEST_F(ImageListTest, RetentionRunsWithTheListing) {
    Add("20240227/120000-000.jpg");
    Add("20240228/120000-000.jpg");
    Add("20240229/120000-000.jpg");
    Add("20240301/120000-000.jpg");
    EXPECT_EQ(ListAll(1), 2);
    EXPECT_EQ(entry_.pItems[0], Key(20240229, 120000));
    EXPECT_FALSE(fs::exists(Cam() + "/20240228"));
    EXPECT_TRUE(fs::exists(Cam() + "/20240229"));
}

TEST_F(ImageListTest, AShorterRelistWaitsForTheDailyReset) {
    Add("20240301/080000-000.jpg");
    Add("20240301/090000-000.jpg");
    Add("20240301/100000-000.jpg");
    ASSERT_EQ(ListAll(), 3);
    fs::remove(Cam() + "/20240301/100000-000.jpg");

    // The listing ends one short of what the list holds: the list stays, and
    // neither another call nor an hourly tick starts a listing.
    ASSERT_EQ(ListAll(), 3);
    EXPECT_EQ(entry_.nWritePos, 2);
    EXPECT_EQ(RunListingTick(entry_, ListingTick::kHour, tree_, 0, clock_), 3);
    EXPECT_FALSE(IsListing(entry_));

    // The new date rebuilds the list.
    RunListingTick(entry_, ListingTick::kDate, tree_, 0, clock_);
    Finish();
    EXPECT_EQ(Items(entry_), (std::vector<uint64_t>{Key(20240301, 80000), Key(20240301, 90000)}));
}

TEST_F(ImageListTest, AListingThatCannotStartLeavesTheNextOneFree) {
    Add("20240301/080000-000.jpg");
    Add("20240302/080000-000.jpg");
    ASSERT_EQ(ListAll(), 2);
    // A folder in place of the list file: the listing cannot start.
    fs::remove(Cam() + ".lst");
    fs::create_directories(Cam() + ".lst/x");
    EXPECT_EQ(ListAll(), 2);
    EXPECT_EQ(entry_.nWritePos, entry_.nValidCount);
    fs::remove_all(Cam() + ".lst");
    Add("20240302/090000-000.jpg");
    EXPECT_EQ(ListAll(), 3);
}

TEST_F(ImageListTest, ResetDropsARunningListing) {
    Add("20240301/080000-000.jpg");
    ListFiles(entry_, tree_, 0, clock_);
    ResetDailyListing(entry_);
    EXPECT_FALSE(entry_.hListFile.Valid());
    EXPECT_EQ(entry_.nValidCount, 0);
    EXPECT_EQ(entry_.nWritePos, 0);
    // The worker may have finished (and been released) already.
    if (entry_.pListWorker)
        entry_.pListWorker->Wait();
    EXPECT_EQ(ListAll(), 1);
}

TEST_F(ImageListTest, ReadingWhileTheWorkerWritesGivesTheSameList) {
    // Enough lines for the worker to write the file in many pieces.
    for (int day = 1; day <= 10; ++day) {
        const std::string folder =
            "202402" + std::string(day < 10 ? "0" : "") + std::to_string(day) + "/";
        for (int i = 0; i < 200; ++i)
            Add(folder + ImageFileName(static_cast<uint32_t>(i / 60 * 10000 + i % 60 * 100), 0));
    }
    ListFiles(entry_, tree_, 0, clock_);
    while (entry_.hListFile.Valid())
        ListFilesSub(entry_);
    const std::vector<uint64_t> during = Items(entry_);
    ASSERT_EQ(during.size(), 2000u);
    EXPECT_TRUE(std::is_sorted(during.begin(), during.end()));

    ViewerEntry again;
    ListFiles(again, tree_, 0, clock_);
    again.pListWorker->Wait();
    ListFilesSub(again);
    EXPECT_EQ(Items(again), during);
    // The array was sized from the estimate, not doubled.
    EXPECT_LE(entry_.nItemsRoom, 2000 + 2000 / 4);
}

TEST(ListFileReader, LinesCutAnywhereReadTheSame) {
    TempDir tmp;
    std::string text;
    std::vector<uint64_t> keys;
    for (uint32_t i = 0; i < 50; ++i) {
        keys.push_back(Key(20240301, 100000 + i, i));
        text += tmp.Path() + "/cam/20240301/" + ImageFileName(100000 + i, i) + "\r\n";
    }
    for (size_t cut : {size_t{1}, size_t{7}, size_t{30}, size_t{61}, text.size() - 1}) {
        const std::string path = tmp.File("cam.lst");
        WriteTreeFile(path, "");
        ViewerEntry entry;
        entry.hListFile.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        std::ofstream out(path, std::ios::binary);
        for (size_t at = 0; at < text.size(); at += cut) {
            out << text.substr(at, cut) << std::flush;
            const ListReadResult r = ReadListFile(entry);
            ASSERT_FALSE(r.fEnded) << cut << " " << at;
        }
        EXPECT_TRUE(ReadListFile(entry).fAtEnd);
        EXPECT_EQ(Items(entry), keys) << cut;
    }
}

TEST(ListFileReader, LongLinesAreReadWholeAndOverlongOnesEndTheListing) {
    TempDir tmp;
    const std::string deep = "/" + std::string(3000, 'd');
    const std::string path = tmp.File("cam.lst");
    WriteTreeFile(path, deep + "/20240301/120000-000.jpg\r\n" + std::string(100000, 'x') + "\r\n" +
                            deep + "/20240301/130000-000.jpg\r\n");
    ViewerEntry entry;
    entry.hListFile.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const ListReadResult r = ReadListFile(entry);
    EXPECT_TRUE(r.fEnded);
    EXPECT_EQ(Items(entry), std::vector<uint64_t>{Key(20240301, 120000)});
}

TEST(ListFileReader, ParsesOnlyRealImageNames) {
    struct Case {
        const char* line;
        bool ok;
        uint64_t key;
    } cases[] = {
        {"/a b/cam/20240229/235959-999.jpg", true, Key(20240229, 235959, 999)},
        {"x/20240301/000000-000.jpg", true, Key(20240301, 0)},
        {"20240301/000000-000.jpg", false, 0},    // no level above the day
        {"/c/20230229/120000-000.jpg", false, 0}, // no such date
        {"/c/20241301/120000-000.jpg", false, 0},
        {"/c/20240301/240000-000.jpg", false, 0}, // no such time
        {"/c/20240301/126000-000.jpg", false, 0},
        {"/c/20240301/120000-000.jpeg", false, 0},
        {"/c/20240301/120000-000.JPG", false, 0},
        {"/c/20240301/12000-0000.jpg", false, 0},
        {"/c/2024030/1120000-000.jpg", false, 0},
        {"/c/20240301/+12000-000.jpg", false, 0},
        {"/c/20240301\\120000-000.jpg", false, 0},
        {"/c/20240301/120000-000.jpg ", false, 0},
        {"", false, 0},
    };
    for (const Case& c : cases) {
        uint64_t key = 7;
        EXPECT_EQ(ParseListLine(c.line, key), c.ok) << c.line;
        EXPECT_EQ(key, c.ok ? c.key : 7u) << c.line;
    }
}

TEST(ListFileReader, KeysRoundTripThroughThePathsOfBothPrograms) {
    const ImageTree trees[] = {{"/srv/images", "", "USB_Cam"},
                               {"/home/u/画像 x/", "server:12345", "USB_Cam[2]"}};
    const uint64_t keys[] = {Key(20190106, 0), Key(20190106, 235959, 999), Key(20240229, 120000, 5),
                             Key(99991231, 235959, 999)};
    for (const ImageTree& tree : trees) {
        for (const uint64_t key : keys) {
            std::string path;
            ASSERT_EQ(ImageFilePath(tree, key, path), 0u);
            uint64_t back = 0;
            EXPECT_TRUE(ParseListLine(path, back)) << path;
            EXPECT_EQ(back, key) << path;
        }
    }
}

TEST(ListingTrace, WritesEnterAndLeaveLinesForTheViewer) {
    TempDir tmp;
    ASSERT_TRUE(LogOpen(tmp.File("view.log")));
    g_nDebug = DEBUG_TRACE;
    ViewerEntry entry;
    entry.fTrace = true;
    SkipImageIndex(entry, SKIP_MINUTE);
    entry.fTrace = false;
    SkipImageIndex(entry, SKIP_MINUTE);
    g_nDebug = 0;
    LogClose();
    const std::string log = ReadFileText(tmp.File("view.log"));
    EXPECT_NE(log.find("ENTER {  SkipImageIndex() pimg="), std::string::npos);
    EXPECT_NE(log.find("LEAVE }  SkipImageIndex() pimg="), std::string::npos);
    EXPECT_EQ(log.find("ENTER", log.find("ENTER") + 1), std::string::npos);
}

} // namespace
} // namespace brindle
