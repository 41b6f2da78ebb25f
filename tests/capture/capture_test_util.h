// Helpers shared by the capture tests: the log captured into a temporary
// folder.
#pragma once

#include "common/log.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <string>

namespace brindle::test {

// Sends the log into a file of its own for the life of the object.
class LogCapture {
  public:
    explicit LogCapture(const TempDir& dir) : path_(dir.File("test.log")) { LogOpen(path_); }
    ~LogCapture() { LogClose(); }

    std::string Text() const { return ReadFileText(path_); }

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
