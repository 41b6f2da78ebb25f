// Command lines typed or piped into a program's standard input, read as
// they come without ever blocking the loop that polls for them. The end of
// the input (a closed pipe, /dev/null under a service manager) only stops
// the reading; it asks nothing of the program.
#pragma once

#include <string>
#include <vector>

namespace brindle {

// A line longer than this is cut there (and then parses as nothing).
inline constexpr size_t LINE_INPUT_MAX = 4096;

class LineInput {
  public:
    // Reads `fd` (not owned); a negative fd has ended already.
    explicit LineInput(int fd) : fd_(fd) {}

    // The descriptor to poll for reading; -1 once the input has ended.
    int Fd() const { return fd_; }
    // Reads once (call it when a poll found the descriptor readable) and
    // appends every complete line, without its CR and LF. At the end of
    // the input a last unterminated line is appended as well.
    void Read(std::vector<std::string>& lines);

  private:
    void Take(const char* data, size_t n, std::vector<std::string>& lines);

    int fd_;
    std::string partial_;
};

// Splits a command line into words at blanks and tabs; a word in double
// quotes may hold blanks ("Auto Exposure"). False for an unclosed quote.
bool SplitCommandWords(const std::string& line, std::vector<std::string>& words);

} // namespace brindle
