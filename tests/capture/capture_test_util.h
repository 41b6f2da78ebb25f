// Helpers shared by the capture tests: a temporary folder, the log captured
// into it, and a QGuiApplication for text drawing.
#pragma once

#include "common/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <cstdlib>

namespace brindle::test {

// A folder under the system's temporary folder, removed with its content.
class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "brindle-capture-XXXXXX").string();
        char* made = ::mkdtemp(pattern.data());
        if (made != nullptr)
            path_ = made;
    }
    ~TempDir() {
        std::error_code error;
        if (!path_.empty())
            std::filesystem::remove_all(path_, error);
    }
    const std::filesystem::path& Path() const { return path_; }
    std::string Str() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

// Sends the log into a file of its own for the life of the object.
class LogCapture {
  public:
    explicit LogCapture(const TempDir& dir) : path_((dir.Path() / "test.log").string()) {
        LogOpen(path_);
    }
    ~LogCapture() { LogClose(); }

    std::string Text() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // Number of lines that contain `needle`.
    int Count(const std::string& needle) const {
        std::string text = Text();
        int n = 0;
        for (size_t at = text.find(needle); at != std::string::npos;
             at = text.find(needle, at + needle.size()))
            ++n;
        return n;
    }

  private:
    std::string path_;
};

} // namespace brindle::test
