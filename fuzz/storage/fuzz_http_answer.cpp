// The HTTP answer parser over any bytes.
//
// Input: one byte that picks where the bytes are split, then the answer.
// Feeding the answer whole and in two pieces must give the same result, and
// nothing the parser keeps may exceed its limits.
#include "storage/http_answer.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace brindle;

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    size_t split = bytes.empty() ? 0 : data[0] % (bytes.size() + 1);

    HttpAnswerParser whole, pieces;
    HttpParse a = whole.Feed(bytes);
    pieces.Feed(bytes.substr(0, split));
    HttpParse b = pieces.Feed(bytes.substr(split));
    Check(a == b);
    a = whole.Finish();
    b = pieces.Finish();
    Check(a == b);
    if (a == HttpParse::Complete) {
        const HttpAnswer& x = whole.Answer();
        const HttpAnswer& y = pieces.Answer();
        Check(x.nStatus == y.nStatus && x.header == y.header && x.body == y.body &&
              x.fKeepAlive == y.fKeepAlive);
        Check(x.header.size() <= HTTP_HEADER_MAX && x.body.size() <= HTTP_BODY_MAX);
        Check(x.nStatus >= 0 && x.nStatus <= 999);
        Check(x.header.size() >= 4 && x.header.compare(x.header.size() - 4, 4, "\r\n\r\n") == 0);
    }
    return 0;
}
