// The answer parser over byte strings: framing, limits and the faults that
// must never pass as an answer. Every case is fed whole and byte by byte.
#include "storage/http_answer.h"

#include <gtest/gtest.h>

#include <string>

namespace brindle {
namespace {

struct AnswerCase {
    const char* name;
    std::string bytes;
    bool fClose; // the peer closes after the bytes
    HttpParse expected;
    int nStatus;      // when complete
    std::string body; // when complete
    bool fKeepAlive;  // when complete
};

HttpParse FeedAll(HttpAnswerParser& parser, const std::string& bytes, bool fClose, bool fOneByOne) {
    HttpParse state = HttpParse::NeedMore;
    if (fOneByOne) {
        for (char c : bytes)
            state = parser.Feed(std::string_view(&c, 1));
    } else {
        state = parser.Feed(bytes);
    }
    return fClose ? parser.Finish() : state;
}

std::string Repeat(char c, size_t n) {
    return std::string(n, c);
}

const std::string k201 = "HTTP/1.1 201 Created\r\nContent-Length: 0\r\n\r\n";

std::vector<AnswerCase> Cases() {
    using P = HttpParse;
    return {
        {"created_zero_length", k201, false, P::Complete, 201, "", true},
        {"length_body", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, P::Complete,
         200, "hello", true},
        {"length_body_missing_bytes", "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nhello", false,
         P::NeedMore, 0, "", false},
        {"length_body_cut_by_close", "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nhello", true,
         P::Cut, 0, "", false},
        {"lower_case_http", "http/1.1 204 No Content\r\n\r\n", false, P::Complete, 204, "", true},
        {"not_http", "HTXP/1.1 200 OK\r\n\r\n", false, P::Bad, 0, "", false},
        {"not_http_early", "<htm", false, P::Bad, 0, "", false},
        {"no_status", "HTTP/1.1 OK\r\nContent-Length: 0\r\n\r\n", false, P::Bad, 0, "", false},
        {"header_cut_by_close", "HTTP/1.1 200 OK\r\nContent-Le", true, P::Cut, 0, "", false},
        {"status_line_only_cut", "HTTP/1.1 200 OK\r\n", true, P::Cut, 0, "", false},
        {"to_close_body", "HTTP/1.1 200 OK\r\n\r\nall of it", true, P::Complete, 200, "all of it",
         false},
        {"to_close_waits_for_close", "HTTP/1.1 200 OK\r\n\r\nall of it", false, P::NeedMore, 0, "",
         false},
        {"no_content_ends_at_header", "HTTP/1.1 204 No Content\r\n\r\n", false, P::Complete, 204,
         "", true},
        {"not_modified_ends_at_header", "HTTP/1.1 304 Not Modified\r\nContent-Length: 9\r\n\r\n",
         false, P::Complete, 304, "", true},
        {"continue_ends_at_header", "HTTP/1.1 100 Continue\r\n\r\n", false, P::Complete, 100, "",
         true},
        {"chunked_hello",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", false,
         P::Complete, 200, "hello", true},
        {"chunked_two_chunks_extension",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n3;x=y\r\nhel\r\n2 ; "
         "z\r\nlo\r\n0\r\n\r\n",
         false, P::Complete, 200, "hello", true},
        {"chunked_trailer_refused",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\nX-T: 1\r\n\r\n",
         false, P::Bad, 0, "", false},
        {"chunk_without_crlf",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhelloX\r\n0\r\n\r\n", false,
         P::Bad, 0, "", false},
        {"chunk_size_not_hex",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nhello\r\n0\r\n\r\n", false,
         P::Bad, 0, "", false},
        {"chunk_size_negative",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-5\r\nhello\r\n0\r\n\r\n", false,
         P::Bad, 0, "", false},
        {"chunk_size_overflows",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFF1\r\nx", false,
         P::Bad, 0, "", false},
        {"chunk_beyond_cap", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4000001\r\nx",
         false, P::Bad, 0, "", false},
        {"chunked_cut_by_close",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n", true, P::Cut, 0, "",
         false},
        {"chunked_wins_over_length",
         "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n"
         "0\r\n\r\n",
         false, P::Complete, 200, "hello", true},
        {"length_negative", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", false, P::Bad, 0, "",
         false},
        {"length_plus_sign", "HTTP/1.1 200 OK\r\nContent-Length: +5\r\n\r\nhello", false, P::Bad, 0,
         "", false},
        {"length_with_letters", "HTTP/1.1 200 OK\r\nContent-Length: 5x\r\n\r\nhello", false, P::Bad,
         0, "", false},
        {"length_list", "HTTP/1.1 200 OK\r\nContent-Length: 5, 5\r\n\r\nhello", false, P::Bad, 0,
         "", false},
        {"length_overflows", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n",
         false, P::Bad, 0, "", false},
        {"length_beyond_cap", "HTTP/1.1 200 OK\r\nContent-Length: 67108865\r\n\r\n", false, P::Bad,
         0, "", false},
        {"length_conflict",
         "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello!", false, P::Bad,
         0, "", false},
        {"length_repeated_same",
         "HTTP/1.1 200 OK\r\nContent-Length: 5\r\ncontent-length:5\r\n\r\nhello", false,
         P::Complete, 200, "hello", true},
        {"length_only_in_body_ignored", "HTTP/1.1 200 OK\r\n\r\nContent-Length: 3\r\n\r\nabc", true,
         P::Complete, 200, "Content-Length: 3\r\n\r\nabc", false},
        {"surplus_stops_reuse", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhiEXTRA", false,
         P::Complete, 200, "hi", false},
        {"connection_close",
         "HTTP/1.1 401 Unauthorized\r\nConnection: close\r\nContent-Length: 0\r\n\r\n", false,
         P::Complete, 401, "", false},
        {"http10_without_keep_alive", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nhi", false,
         P::Complete, 200, "hi", false},
        {"http10_keep_alive",
         "HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 2\r\n\r\nhi", false,
         P::Complete, 200, "hi", true},
        {"header_at_limit_without_end", "HTTP/1.1 200 OK\r\nX: " + Repeat('a', HTTP_HEADER_MAX),
         false, P::Bad, 0, "", false},
    };
}

TEST(HttpAnswerParser, CasesWholeAndByteByByte) {
    for (const AnswerCase& c : Cases()) {
        for (bool fOneByOne : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (fOneByOne ? " byte by byte" : " whole"));
            HttpAnswerParser parser;
            HttpParse state = FeedAll(parser, c.bytes, c.fClose, fOneByOne);
            ASSERT_EQ(state, c.expected) << parser.Reason();
            if (state != HttpParse::Complete)
                continue;
            EXPECT_EQ(parser.Answer().nStatus, c.nStatus);
            EXPECT_EQ(parser.Answer().body, c.body);
            EXPECT_EQ(parser.Answer().fKeepAlive, c.fKeepAlive);
        }
    }
}

TEST(HttpAnswerParser, HeaderBlockIsKeptAndSearchedAlone) {
    HttpAnswerParser parser;
    ASSERT_EQ(parser.Feed("HTTP/1.1 200 OK\r\nX-A:  one \r\nX-B: two\r\n  folded\r\n"
                          "Content-Length: 11\r\n\r\nX-C: hidden"),
              HttpParse::Complete);
    const HttpAnswer& answer = parser.Answer();
    EXPECT_EQ(answer.header.substr(answer.header.size() - 4), "\r\n\r\n");
    std::string_view value;
    ASSERT_TRUE(HttpHeaderField(answer.header, "x-a", value));
    EXPECT_EQ(value, "one");
    ASSERT_TRUE(HttpHeaderField(answer.header, "X-B", value));
    EXPECT_EQ(value, "two\r\n  folded");
    EXPECT_FALSE(HttpHeaderField(answer.header, "X-C", value));
    EXPECT_FALSE(HttpHeaderField(answer.header, "HTTP/1.1 200 OK", value));
}

TEST(HttpAnswerParser, LargeBodiesStayWithinTheCap) {
    // A large chunked body in many pieces decodes exactly; a close-delimited
    // body one byte over the cap is refused.
    std::string chunk(1000, 'x');
    HttpAnswerParser parser;
    parser.Feed("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(parser.Feed("3e8\r\n" + chunk + "\r\n"), HttpParse::NeedMore);
    ASSERT_EQ(parser.Feed("0\r\n\r\n"), HttpParse::Complete);
    EXPECT_EQ(parser.Answer().body.size(), 300000u);

    HttpAnswerParser toClose;
    toClose.Feed("HTTP/1.1 200 OK\r\n\r\n");
    std::string block(1u << 20, 'y');
    for (size_t n = 0; n < HTTP_BODY_MAX; n += block.size())
        ASSERT_EQ(toClose.Feed(block), HttpParse::NeedMore);
    EXPECT_EQ(toClose.Feed("z"), HttpParse::Bad);
}

} // namespace
} // namespace brindle
