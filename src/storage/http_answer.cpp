#include "storage/http_answer.h"

#include "common/ascii.h"
#include "common/text_utils.h"

#include <algorithm>

namespace brindle {

namespace {

// A chunk-size line (size, extensions) longer than this is refused.
constexpr size_t CHUNK_LINE_MAX = 4096;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// The next "\r\n"-ended line of `block` from `pos` (without the line end),
// with folded continuation lines joined in; pos moves past it.
bool NextLine(std::string_view block, size_t& pos, std::string_view& line) {
    if (pos >= block.size())
        return false;
    size_t end = pos;
    for (;;) {
        end = block.find("\r\n", end);
        if (end == std::string_view::npos) {
            end = block.size();
            break;
        }
        if (end + 2 < block.size() && IsBlank(block[end + 2])) {
            end += 2; // a folded line continues the field
            continue;
        }
        break;
    }
    line = block.substr(pos, end - pos);
    pos = std::min(block.size(), end + 2);
    return true;
}

// Whether the comma-separated token list `value` holds `token` (any case);
// with fLast, whether its last item is `token`.
bool HasToken(std::string_view value, std::string_view token, bool fLast = false) {
    bool fLastMatches = false;
    while (true) {
        size_t comma = value.find(',');
        std::string_view item = Trim(value.substr(0, comma));
        if (!item.empty()) {
            fLastMatches = EqualNoCase(item, token);
            if (fLastMatches && !fLast)
                return true;
        }
        if (comma == std::string_view::npos)
            return fLast && fLastMatches;
        value.remove_prefix(comma + 1);
    }
}

// Plain decimal digits within the body cap; false for anything else.
bool ParseLength(std::string_view value, uint64_t& n) {
    if (value.empty() || value.size() > 12)
        return false;
    n = 0;
    for (char c : value) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    return n <= HTTP_BODY_MAX;
}

} // namespace

bool HttpHeaderField(std::string_view header, std::string_view name, std::string_view& value) {
    size_t pos = 0;
    std::string_view line;
    NextLine(header, pos, line); // the status line
    while (NextLine(header, pos, line)) {
        size_t colon = line.find(':');
        if (colon == std::string_view::npos || !EqualNoCase(line.substr(0, colon), name))
            continue;
        value = Trim(line.substr(colon + 1));
        return true;
    }
    return false;
}

std::vector<std::string_view> HttpHeaderFields(std::string_view header, std::string_view name) {
    std::vector<std::string_view> values;
    size_t pos = 0;
    std::string_view line;
    NextLine(header, pos, line);
    while (NextLine(header, pos, line)) {
        size_t colon = line.find(':');
        if (colon != std::string_view::npos && EqualNoCase(line.substr(0, colon), name))
            values.push_back(Trim(line.substr(colon + 1)));
    }
    return values;
}

HttpParse HttpAnswerParser::Fail(const char* reason) {
    reason_ = reason;
    state_ = HttpParse::Bad;
    in_.clear();
    pos_ = 0;
    return state_;
}

HttpParse HttpAnswerParser::Feed(std::string_view bytes) {
    if (state_ == HttpParse::Bad)
        return state_;
    if (state_ == HttpParse::Complete) {
        surplus_ += bytes.size();
        answer_.fKeepAlive = false;
        return state_;
    }
    if (pos_ > 0 && pos_ >= in_.size() / 2) {
        in_.erase(0, pos_);
        pos_ = 0;
    }
    in_.append(bytes);
    return Run();
}

HttpParse HttpAnswerParser::Finish() {
    if (state_ != HttpParse::NeedMore)
        return state_;
    if (stage_ == Stage::ToClose)
        return Done();
    state_ = HttpParse::Cut;
    return state_;
}

HttpParse HttpAnswerParser::Run() {
    while (state_ == HttpParse::NeedMore) {
        std::string_view pending = Pending();
        switch (stage_) {
        case Stage::Header:
            return TakeHeader();
        case Stage::Length:
        case Stage::ChunkData:
        case Stage::ToClose: {
            if (pending.empty())
                return state_;
            size_t n = pending.size();
            if (stage_ != Stage::ToClose)
                n = static_cast<size_t>(std::min<uint64_t>(n, nLeft_));
            else if (answer_.body.size() + n > HTTP_BODY_MAX)
                return Fail("body beyond the limit");
            answer_.body.append(pending.substr(0, n));
            pos_ += n;
            if (stage_ == Stage::ToClose)
                return state_;
            nLeft_ -= n;
            if (nLeft_ == 0) {
                if (stage_ == Stage::Length)
                    return Done();
                stage_ = Stage::ChunkEnd;
            }
            break;
        }
        case Stage::ChunkSize:
            if (StepChunkSize() != HttpParse::NeedMore || stage_ == Stage::ChunkSize)
                return state_;
            break;
        case Stage::ChunkEnd:
        case Stage::LastLine:
            if (pending.size() < 2)
                return state_;
            if (pending.substr(0, 2) != "\r\n")
                return Fail(stage_ == Stage::ChunkEnd ? "chunk data not ended by CRLF"
                                                      : "trailer after the last chunk");
            pos_ += 2;
            if (stage_ == Stage::LastLine)
                return Done();
            stage_ = Stage::ChunkSize;
            break;
        case Stage::Done:
            return state_;
        }
    }
    return state_;
}

HttpParse HttpAnswerParser::TakeHeader() {
    std::string_view pending = Pending();
    size_t nCheck = std::min<size_t>(4, pending.size());
    if (!EqualNoCase(pending.substr(0, nCheck), std::string_view("HTTP").substr(0, nCheck)))
        return Fail("answer does not begin with HTTP");
    size_t end = pending.find("\r\n\r\n", scanned_ >= 3 ? scanned_ - 3 : 0);
    if (end == std::string_view::npos) {
        scanned_ = pending.size();
        if (pending.size() > HTTP_HEADER_MAX)
            return Fail("header beyond the limit");
        return state_;
    }
    if (end + 4 > HTTP_HEADER_MAX)
        return Fail("header beyond the limit");
    answer_.header.assign(pending.substr(0, end + 4));
    pos_ += end + 4;
    if (ReadHeaderFields(answer_.header) == HttpParse::Bad)
        return state_;
    return Run();
}

HttpParse HttpAnswerParser::ReadHeaderFields(std::string_view header) {
    size_t pos = 0;
    std::string_view line;
    NextLine(header, pos, line);
    // "HTTP/1.1 200 OK": the status is the number after the first word.
    size_t space = line.find(' ');
    std::string_view rest = space == std::string_view::npos ? "" : line.substr(space);
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    if (rest.size() < 3 || (rest.size() > 3 && rest[3] != ' '))
        return Fail("no status code");
    int nStatus = 0;
    for (char c : rest.substr(0, 3)) {
        if (c < '0' || c > '9')
            return Fail("no status code");
        nStatus = nStatus * 10 + (c - '0');
    }
    answer_.nStatus = nStatus;
    bool fHttp10 = EqualNoCase(line.substr(0, std::min<size_t>(8, line.size())), "HTTP/1.0");

    bool fLength = false, fChunked = false, fCoded = false;
    bool fClose = false, fKeep = false;
    uint64_t nLength = 0;
    while (NextLine(header, pos, line)) {
        size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        std::string_view name = line.substr(0, colon), value = Trim(line.substr(colon + 1));
        if (EqualNoCase(name, "Content-Length")) {
            uint64_t n = 0;
            if (!ParseLength(value, n))
                return Fail("Content-Length not plain digits within the limit");
            if (fLength && n != nLength)
                return Fail("conflicting Content-Length fields");
            fLength = true;
            nLength = n;
        } else if (EqualNoCase(name, "Transfer-Encoding")) {
            fCoded = true;
            fChunked = HasToken(value, "chunked", true);
        } else if (EqualNoCase(name, "Connection")) {
            fClose = fClose || HasToken(value, "close");
            fKeep = fKeep || HasToken(value, "keep-alive");
        }
    }
    answer_.fKeepAlive = !fClose && (!fHttp10 || fKeep);

    if ((nStatus >= 100 && nStatus < 200) || nStatus == 204 || nStatus == 304)
        return Done();
    if (fCoded) {
        // A transfer coding overrides any length; one that does not end in
        // chunked runs to the close.
        stage_ = fChunked ? Stage::ChunkSize : Stage::ToClose;
    } else if (fLength) {
        if (nLength == 0)
            return Done();
        stage_ = Stage::Length;
        nLeft_ = nLength;
        answer_.body.reserve(static_cast<size_t>(nLength));
    } else {
        stage_ = Stage::ToClose;
    }
    if (stage_ == Stage::ToClose)
        answer_.fKeepAlive = false;
    return state_;
}

HttpParse HttpAnswerParser::StepChunkSize() {
    std::string_view pending = Pending();
    size_t eol = pending.find("\r\n");
    if (eol == std::string_view::npos) {
        if (pending.size() > CHUNK_LINE_MAX)
            return Fail("chunk size line beyond the limit");
        return state_;
    }
    if (eol > CHUNK_LINE_MAX)
        return Fail("chunk size line beyond the limit");
    std::string_view line = pending.substr(0, eol);
    uint64_t nSize = 0;
    size_t i = 0;
    for (; i < line.size() && HexDigitValue(line[i]) >= 0; ++i) {
        nSize = nSize * 16 + static_cast<uint64_t>(HexDigitValue(line[i]));
        if (nSize > HTTP_BODY_MAX)
            return Fail("chunk beyond the limit");
    }
    if (i == 0)
        return Fail("chunk size not hexadecimal");
    std::string_view rest = Trim(line.substr(i));
    if (!rest.empty() && rest.front() != ';')
        return Fail("chunk size not hexadecimal");
    if (answer_.body.size() + nSize > HTTP_BODY_MAX)
        return Fail("body beyond the limit");
    pos_ += eol + 2;
    nLeft_ = nSize;
    stage_ = nSize == 0 ? Stage::LastLine : Stage::ChunkData;
    return state_;
}

HttpParse HttpAnswerParser::Done() {
    stage_ = Stage::Done;
    state_ = HttpParse::Complete;
    surplus_ = in_.size() - pos_;
    if (surplus_ > 0)
        answer_.fKeepAlive = false;
    in_.clear();
    in_.shrink_to_fit();
    pos_ = 0;
    return state_;
}

} // namespace brindle
