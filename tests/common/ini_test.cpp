#include "common/error_codes.h"
#include "common/ini_file.h"
#include "common/ini_text.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

namespace brindle {
namespace {

using test::ReadFileText;
using test::TempDir;
using test::WriteFileText;

struct GetCase {
    const char* name;
    std::string text;
    const char* section;
    const char* key;
    std::optional<std::string> expected;
};

TEST(IniText, ReadsValuesAsTheProfileFunctionsDo) {
    const GetCase cases[] = {
        {"plain", "[A]\nk=v\n", "A", "k", "v"},
        {"names without case", "[Settings]\nPort=80\n", "SETTINGS", "port", "80"},
        {"blanks around names and value", "  [ A ]  \n\t k \t=  v w \r\n", "A", "k", "v w"},
        {"double quotes removed once", "[A]\nk=\"\"x\"\"\n", "A", "k", "\"x\""},
        {"single quotes removed", "[A]\nk=' x '\n", "A", "k", " x "},
        {"unmatched quotes kept", "[A]\nk=\"x'\n", "A", "k", "\"x'"},
        {"lone quote kept", "[A]\nk=\"\n", "A", "k", "\""},
        {"empty value", "[A]\nk=\n", "A", "k", ""},
        {"first key wins", "[A]\nk=1\nK=2\n", "A", "k", "1"},
        {"first section only", "[A]\nx=1\n[B]\n[a]\nk=2\n", "A", "k", std::nullopt},
        {"key of another section", "[A]\nx=1\n[B]\nk=2\n", "A", "k", std::nullopt},
        {"comment is no key", "[A]\n;k=1\n", "A", ";k", std::nullopt},
        {"key before any section", "k=1\n[A]\n", "A", "k", std::nullopt},
        {"last bracket closes", "[http://[::1]:8080/dav]\nk=1\n", "http://[::1]:8080/dav", "k",
         "1"},
        {"text after bracket", "[A] ; note\nk=1\n", "A", "k", "1"},
        {"no final line end", "[A]\nk=v", "A", "k", "v"},
        {"value holds =", "[A]\nk=a=b\n", "A", "k", "a=b"},
        {"multi-byte text", "[カメラ]\n名前=玄関\n", "カメラ", "名前", "玄関"},
        {"missing section", "[A]\nk=1\n", "B", "k", std::nullopt},
    };
    for (const GetCase& c : cases)
        EXPECT_EQ(IniTextGet(c.text, c.section, c.key), c.expected) << c.name;
}

TEST(IniText, WritingOneKeyKeepsEveryOtherLineByteForByte) {
    const std::string before = "; Brindle settings\r\n"
                               "\r\n"
                               "[Settings]  \r\n"
                               "  Port   =  12345  \r\n"
                               "Debug=0\r\n"
                               "; the cameras follow\r\n"
                               "\r\n"
                               "[Camera]\r\n"
                               "PathList=a|b";
    struct EditCase {
        const char* name;
        const char* section;
        const char* key;
        const char* value;
        std::string after;
    };
    const EditCase cases[] = {
        {"existing key keeps its spacing", "settings", "port", "80",
         "; Brindle settings\r\n\r\n[Settings]  \r\n  Port   =  80\r\nDebug=0\r\n"
         "; the cameras follow\r\n\r\n[Camera]\r\nPathList=a|b"},
        {"new key after the section's last key", "Settings", "Crypt", "3",
         "; Brindle settings\r\n\r\n[Settings]  \r\n  Port   =  12345  \r\nDebug=0\r\n"
         "Crypt=3\r\n; the cameras follow\r\n\r\n[Camera]\r\nPathList=a|b"},
        {"new key after an unterminated last line", "Camera", "Count", "2",
         "; Brindle settings\r\n\r\n[Settings]  \r\n  Port   =  12345  \r\nDebug=0\r\n"
         "; the cameras follow\r\n\r\n[Camera]\r\nPathList=a|b\r\nCount=2\r\n"},
        {"new section at the end", "WebDAV", "URI", "http://h/",
         before + "\r\n[WebDAV]\r\nURI=http://h/\r\n"},
    };
    for (const EditCase& c : cases) {
        std::string text = before;
        ASSERT_EQ(IniTextSet(text, c.section, c.key, c.value), 0u) << c.name;
        EXPECT_EQ(text, c.after) << c.name;
        EXPECT_EQ(IniTextGet(text, c.section, c.key), c.value) << c.name;
    }
}

TEST(IniText, NewFileAndEmptySectionGetPlainLineEnds) {
    std::string text;
    ASSERT_EQ(IniTextSet(text, "A", "k", "1"), 0u);
    ASSERT_EQ(IniTextSet(text, "B", "k", "2"), 0u);
    EXPECT_EQ(text, "[A]\nk=1\n[B]\nk=2\n");
    text = "[A]\n; only a comment\n[B]\n";
    ASSERT_EQ(IniTextSet(text, "A", "k", "1"), 0u);
    EXPECT_EQ(text, "[A]\nk=1\n; only a comment\n[B]\n");
}

TEST(IniText, DeletesKeysAndWholeSections) {
    std::string text = "[A]\nk=1\nj=2\n; about B\n[B]\nk=3\n[C]\nx=4";
    EXPECT_TRUE(IniTextDeleteKey(text, "a", "K"));
    EXPECT_EQ(text, "[A]\nj=2\n; about B\n[B]\nk=3\n[C]\nx=4");
    EXPECT_FALSE(IniTextDeleteKey(text, "A", "k"));
    EXPECT_TRUE(IniTextDeleteSection(text, "b"));
    EXPECT_EQ(text, "[A]\nj=2\n; about B\n[C]\nx=4");
    EXPECT_TRUE(IniTextDeleteSection(text, "C"));
    EXPECT_EQ(text, "[A]\nj=2\n; about B\n");
    EXPECT_FALSE(IniTextDeleteSection(text, "C"));
}

TEST(IniText, ListsSectionsAndKeysInFileOrder) {
    const std::string text = "top=0\n[A]\nk=1\n;c=2\nnoequals\n =x\nJ = 3\n[ B ]\n[A]\nz=9\n";
    EXPECT_EQ(IniTextSections(text), (std::vector<std::string>{"A", "B", "A"}));
    EXPECT_EQ(IniTextKeys(text, "a"), (std::vector<std::string>{"k", "J"}));
    EXPECT_TRUE(IniTextKeys(text, "B").empty());
    EXPECT_TRUE(IniTextKeys(text, "none").empty());
}

TEST(IniText, RefusesEntriesThatWouldInjectLines) {
    struct BadCase {
        const char* section;
        const char* key;
        const char* value;
    };
    const BadCase cases[] = {
        {"A", "k", "1\n[Settings]\nPort=1"},
        {"A", "k", "1\r"},
        {"A\n", "k", "1"},
        {"A", "k\n", "1"},
        {"A", "k=j", "1"},
        {"A", "[k", "1"},
        {"A", ";k", "1"},
        {"", "k", "1"},
        {"A", " ", "1"},
    };
    for (const BadCase& c : cases) {
        std::string text = "[A]\nk=0\n";
        EXPECT_EQ(IniTextSet(text, c.section, c.key, c.value), ERROR_INVALID_PARAMETER_CODE)
            << c.section << "/" << c.key << "/" << c.value;
        EXPECT_EQ(text, "[A]\nk=0\n");
    }
}

TEST(IniText, AcceptsAnyBytes) {
    std::mt19937 random(7);
    std::vector<std::string> inputs = {
        std::string(1 << 20, 'x'),                 // one huge line, no line end
        std::string(200000, '\n'),                 // only line ends
        std::string(100000, '['),                  // headers that never close
        std::string("[A]\nk=\0v\0\n", 11),         // NULs
        "\r\r\r[A]\r\r=\r\n[]\n[\n]\n=\n==\n\"\n", // odd punctuation
    };
    for (int n = 0; n < 20; ++n) {
        std::string bytes(4096, '\0');
        for (char& c : bytes)
            c = static_cast<char>(random() % 256);
        inputs.push_back(bytes);
    }
    for (std::string text : inputs) {
        const std::string original = text;
        (void)IniTextGet(text, "A", "k");
        (void)IniTextSections(text);
        (void)IniTextKeys(text, "A");
        ASSERT_EQ(IniTextSet(text, "Zq9", "key", "value"), 0u);
        EXPECT_EQ(text.compare(0, original.size(), original), 0);
        EXPECT_EQ(IniTextGet(text, "Zq9", "key"), "value");
        EXPECT_TRUE(IniTextDeleteSection(text, "Zq9"));
    }
}

// The one-pass forms must give exactly what the per-key functions give.
TEST(IniText, IndexAndBatchAgreeWithSingleKeyFunctions) {
    const GetCase reads[] = {
        {"names without case", "[Settings]\nPort=80\n", "SETTINGS", "port", "80"},
        {"blanks and quotes", "  [ A ]  \n\t k \t=  ' v ' \r\n", "A", "k", " v "},
        {"first key wins", "[A]\nk=1\nK=2\n", "A", "k", "1"},
        {"first section only", "[A]\nx=1\n[B]\n[a]\nk=2\n", "A", "k", std::nullopt},
        {"key before any section", "k=1\n[A]\n", "A", "k", std::nullopt},
        {"comment is no key", "[A]\n;k=1\n", "A", ";k", std::nullopt},
    };
    for (const GetCase& c : reads)
        EXPECT_EQ(IniIndex(c.text).Get(c.section, c.key), c.expected) << c.name;

    const std::vector<IniEntry> entries = {
        {"A", "k", "1"}, {"A", "new", "2"},   {"Fresh", "x", "3"}, {" a ", "K", "4"},
        {"B", "k", "5"}, {"A", "bad\n", "6"}, {"Fresh", "y", "7"}, {"[Z]", "k", "8"},
    };
    const std::string texts[] = {
        "",
        "[A]",
        "[A]\nk=0",
        "[A]\r\nk = 0 ; old\r\n; note\r\n\r\n[B]\r\nk=0\r\n",
        "[A]\nx=1\n[B]\n[a]\nk=2\n",
        "k=1\n[b]\n; only a comment\n",
        "[A]\nk=1\nK=2\n\n; tail\n[A]\nk=3\n",
        std::string("\r\r[A]\r\r=\r\n[]\n[\n]\n=\n==\n\"\n"),
    };
    for (const std::string& text : texts) {
        std::string one = text;
        for (const IniEntry& e : entries)
            IniTextSet(one, e.section, e.key, e.value);
        std::string batch = text;
        IniTextSetMany(batch, entries);
        EXPECT_EQ(batch, one) << text;
    }
}

TEST(IniFile, KeyOperationsOnRealFiles) {
    TempDir dir;
    const std::string path = dir.File("BrindleHost.ini");
    std::string value;
    EXPECT_EQ(IniReadKey(path, "A", "k", value), ERROR_FILE_NOT_FOUND_CODE);
    EXPECT_EQ(IniDeleteKey(path, "A", "k"), 0u);
    EXPECT_EQ(IniDeleteSection(path, "A"), 0u);
    EXPECT_FALSE(std::filesystem::exists(path)) << "deleting must not create the file";

    ASSERT_EQ(IniWriteKey(path, "A", "k", "1"), 0u);
    ASSERT_EQ(IniWriteKey(path, "B", "j", "2"), 0u);
    ASSERT_EQ(IniReadKey(path, "a", "K", value), 0u);
    EXPECT_EQ(value, "1");
    EXPECT_EQ(IniReadKey(path, "A", "none", value), ERROR_FILE_NOT_FOUND_CODE);
    EXPECT_EQ(IniSectionNames(path), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(IniSectionKeys(path, "B"), (std::vector<std::string>{"j"}));

    ASSERT_EQ(IniDeleteKey(path, "A", "k"), 0u);
    ASSERT_EQ(IniDeleteSection(path, "B"), 0u);
    std::string text;
    ASSERT_EQ(IniReadFile(path, text), 0u);
    EXPECT_EQ(text, "[A]\n");
    EXPECT_EQ(IniWriteKey(path, "A", "k", "x\ny"), ERROR_INVALID_PARAMETER_CODE);
    EXPECT_EQ(ReadFileText(path), "[A]\n");
}

TEST(IniFile, WriteIntoMissingFolderFailsCleanly) {
    TempDir dir;
    EXPECT_NE(IniWriteKey(dir.File("missing/x.ini"), "A", "k", "1"), 0u);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

std::string Numbered(const char* prefix, int n) {
    std::string name = prefix;
    return name.append(std::to_string(n));
}

TEST(IniFile, ConcurrentWritersLoseNothing) {
    TempDir dir;
    const std::string path = dir.File("s.ini");
    constexpr int kThreads = 4, kKeys = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int k = 0; k < kKeys; ++k)
                IniWriteKey(path, Numbered("S", k % 3), Numbered("k", t * 100 + k),
                            std::to_string(k));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t) {
        for (int k = 0; k < kKeys; ++k) {
            std::string value;
            ASSERT_EQ(IniReadKey(path, Numbered("S", k % 3), Numbered("k", t * 100 + k), value),
                      0u);
            EXPECT_EQ(value, std::to_string(k));
        }
    }
}

TEST(IniFile, EditFileStoresOnlyAKeptChange) {
    TempDir dir;
    const std::string path = dir.File("s.ini");
    EXPECT_EQ(IniEditFile(path, [](std::string&) -> uint32_t { return 0; }), 0u);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path())); // nothing to store, no file

    ASSERT_EQ(IniWriteKey(path, "A", "k", "1"), 0u);
    auto refuse = [](std::string& text) -> uint32_t {
        text.clear();
        return ERROR_CANCELLED_CODE;
    };
    EXPECT_EQ(IniEditFile(path, refuse), ERROR_CANCELLED_CODE);
    auto add = [](std::string& text) -> uint32_t { return IniTextSet(text, "B", "j", "2"); };
    EXPECT_EQ(IniEditFile(path, add), 0u);
    EXPECT_EQ(IniSectionNames(path), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(IniSectionKeys(path, "A"), (std::vector<std::string>{"k"}));
}

TEST(IniFile, ReaderNeverSeesAHalfWrittenFile) {
    TempDir dir;
    const std::string path = dir.File("s.ini");
    const std::string longA(300000, 'a'), longB(300000, 'b');
    ASSERT_EQ(IniWriteKey(path, "S", "v", longA), 0u);
    ASSERT_EQ(IniWriteKey(path, "T", "end", "1"), 0u);

    std::atomic<bool> done{false};
    std::atomic<int> bad{0}, reads{0};
    std::thread reader([&] {
        while (!done.load() || reads.load() < 20) {
            std::string text;
            if (IniReadFile(path, text) != 0) {
                ++bad;
                continue;
            }
            std::optional<std::string> v = IniTextGet(text, "S", "v");
            if (!v || (*v != longA && *v != longB) || IniTextGet(text, "T", "end") != "1")
                ++bad;
            ++reads;
        }
    });
    for (int i = 0; i < 60; ++i)
        IniWriteKey(path, "S", "v", i % 2 ? longA : longB);
    done = true;
    reader.join();
    EXPECT_EQ(bad.load(), 0);
}

} // namespace
} // namespace brindle
