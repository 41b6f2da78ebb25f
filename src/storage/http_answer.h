// The answer side of our HTTP/1.1 client: bytes in, status, header block and
// decoded body out. No I/O here; the connection feeds what it reads and the
// fuzz target feeds anything.
//
// The relay deletes a file on the storage after it fetched it successfully,
// so an answer counts as complete only when its framing says so: a cut
// header, a short body, a broken chunk or conflicting lengths are never
// taken for an answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// The answer is not HTTP, or its framing is broken or beyond our limits.
inline constexpr uint32_t ERR_NOT_HTTP = 0x20000006;

// A header block (status line to the empty line) longer than this is refused.
inline constexpr size_t HTTP_HEADER_MAX = 64 * 1024;
// A body longer than this is refused before anything is allocated for it.
inline constexpr size_t HTTP_BODY_MAX = 64u << 20;

struct HttpAnswer {
    int nStatus = 0;
    std::string header;      // status line and header lines, the final empty line included
    std::string body;        // the body, chunked coding removed
    bool fKeepAlive = false; // the connection may carry another request
};

enum class HttpParse {
    NeedMore, // the answer is not complete yet
    Complete, // Answer() holds the whole answer
    Bad,      // not HTTP or broken framing (ERR_NOT_HTTP); Reason() says why
    Cut,      // Finish(): the peer closed before the answer was complete
};

// One answer, fed in pieces as they arrive. Feeding the same bytes in any
// split gives the same result.
class HttpAnswerParser {
  public:
    // Appends bytes. After Complete, further bytes count as surplus (and the
    // connection is not reused); after Bad they are ignored.
    HttpParse Feed(std::string_view bytes);
    // The peer closed the connection: a body that runs to the close is
    // complete now; anything else still missing makes the answer Cut.
    HttpParse Finish();

    HttpParse State() const { return state_; }
    const HttpAnswer& Answer() const { return answer_; }
    HttpAnswer TakeAnswer() { return std::move(answer_); }
    bool HeaderComplete() const { return stage_ != Stage::Header; }
    // Bytes that came after a complete answer.
    size_t Surplus() const { return surplus_; }
    // A short English reason for a Bad answer, for the log.
    const char* Reason() const { return reason_; }

  private:
    enum class Stage { Header, Length, ChunkSize, ChunkData, ChunkEnd, LastLine, ToClose, Done };

    HttpParse Fail(const char* reason);
    HttpParse Run();
    HttpParse TakeHeader();
    HttpParse ReadHeaderFields(std::string_view header);
    HttpParse StepChunkSize();
    HttpParse Done();
    std::string_view Pending() const { return std::string_view(in_).substr(pos_); }

    HttpParse state_ = HttpParse::NeedMore;
    Stage stage_ = Stage::Header;
    HttpAnswer answer_;
    std::string in_; // bytes not yet taken, from pos_
    size_t pos_ = 0;
    size_t scanned_ = 0; // header bytes searched for the empty line so far
    uint64_t nLeft_ = 0; // body or chunk bytes still to come
    size_t surplus_ = 0;
    const char* reason_ = "";
};

// The first header field `name` (without ":", any case) of a header block,
// its value without surrounding blanks (folded lines kept inside). False
// when the block has no such field.
bool HttpHeaderField(std::string_view header, std::string_view name, std::string_view& value);
// Every field `name` of a header block, in order, values as above.
std::vector<std::string_view> HttpHeaderFields(std::string_view header, std::string_view name);

} // namespace brindle
