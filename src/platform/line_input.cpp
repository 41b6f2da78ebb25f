#include "platform/line_input.h"

#include <cerrno>
#include <unistd.h>

namespace brindle {

void LineInput::Read(std::vector<std::string>& lines) {
    if (fd_ < 0)
        return;
    char buffer[1024];
    ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        if (!partial_.empty())
            lines.push_back(std::move(partial_));
        partial_.clear();
        fd_ = -1;
        return;
    }
    Take(buffer, static_cast<size_t>(n), lines);
}

void LineInput::Take(const char* data, size_t n, std::vector<std::string>& lines) {
    for (size_t i = 0; i < n; ++i) {
        char c = data[i];
        if (c == '\n') {
            if (!partial_.empty() && partial_.back() == '\r')
                partial_.pop_back();
            lines.push_back(std::move(partial_));
            partial_.clear();
        } else if (partial_.size() < LINE_INPUT_MAX) {
            partial_.push_back(c);
        }
    }
}

bool SplitCommandWords(const std::string& line, std::vector<std::string>& words) {
    words.clear();
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
            ++i;
            continue;
        }
        std::string word;
        if (line[i] == '"') {
            size_t end = line.find('"', i + 1);
            if (end == std::string::npos)
                return false;
            word = line.substr(i + 1, end - i - 1);
            i = end + 1;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
                word.push_back(line[i++]);
        }
        words.push_back(std::move(word));
    }
    return true;
}

} // namespace brindle
