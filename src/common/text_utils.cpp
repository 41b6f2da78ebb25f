#include "common/text_utils.h"

#include "common/ascii.h"

namespace brindle {

namespace {

constexpr size_t kNone = std::string_view::npos;

bool IsContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Walks `text` character by character and returns the first start where
// `matches(position)` holds.
template <typename Matches>
size_t FindAtCharacters(std::string_view text, std::string_view pattern, Matches matches) {
    if (pattern.empty())
        return 0;
    for (size_t t = 0; t < text.size() && text.size() - t >= pattern.size();
         t += Utf8CharLength(text, t)) {
        if (matches(text.substr(t, pattern.size())))
            return t;
    }
    return kNone;
}

bool IsSpaceOrTab(char c) {
    return c == ' ' || c == '\t';
}

// Skips blanks and folded line breaks between a header name and its value.
size_t SkipHeaderBlanks(std::string_view header, size_t i) {
    while (i < header.size()) {
        if (IsSpaceOrTab(header[i]))
            ++i;
        else if (header[i] == '\r' && i + 2 < header.size() && header[i + 1] == '\n' &&
                 IsSpaceOrTab(header[i + 2]))
            i += 3;
        else
            break;
    }
    return i;
}

} // namespace

std::string_view TrimSpaceTab(std::string_view text) {
    size_t start = text.find_first_not_of(" \t");
    if (start == kNone)
        return {};
    return text.substr(start, text.find_last_not_of(" \t") - start + 1);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

std::optional<ScannedNumber> ScanNumber(std::string_view text, unsigned base) {
    auto digit = [base](char c) {
        int d = HexDigitValue(c);
        return d >= 0 && static_cast<unsigned>(d) < base ? d : -1;
    };
    size_t i = 0;
    while (i < text.size() && (IsSettingBlank(text[i]) || text[i] == '\n'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (base == 16 && i + 2 < text.size() && text[i] == '0' &&
        (text[i + 1] == 'x' || text[i + 1] == 'X') && digit(text[i + 2]) >= 0)
        i += 2;
    const size_t first = i;
    uint64_t value = 0;
    bool fWrapped = false;
    for (; i < text.size() && digit(text[i]) >= 0; ++i) {
        uint64_t d = static_cast<uint64_t>(digit(text[i]));
        if (value > (UINT64_MAX - d) / base)
            fWrapped = true;
        value = value * base + d;
    }
    if (i == first)
        return std::nullopt;
    return ScannedNumber{negative ? 0 - value : value, i, fWrapped};
}

size_t Utf8CharLength(std::string_view text, size_t pos) {
    unsigned char lead = static_cast<unsigned char>(text[pos]);
    size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (length > text.size() - pos)
        return 1;
    for (size_t i = 1; i < length; ++i) {
        if (!IsContinuation(text[pos + i]))
            return 1;
    }
    return length;
}

size_t Utf8FitLength(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text.size();
    size_t length = 0;
    while (length < text.size()) {
        size_t next = length + Utf8CharLength(text, length);
        if (next > maxBytes)
            break;
        length = next;
    }
    return length;
}

size_t FindText(std::string_view text, std::string_view pattern) {
    return FindAtCharacters(text, pattern,
                            [&](std::string_view candidate) { return candidate == pattern; });
}

size_t FindTextNoCase(std::string_view text, std::string_view pattern) {
    return FindAtCharacters(
        text, pattern, [&](std::string_view candidate) { return EqualNoCase(candidate, pattern); });
}

// Lower-casing both copies folds exactly the ASCII letters, as FindTextNoCase
// does; the copies keep every byte position.
size_t FindTextLower(std::string_view text, std::string_view pattern) {
    return FindTextNoCase(text, pattern);
}

bool WildcardMatch(std::string_view text, std::string_view pattern) {
    size_t t = 0, p = 0;
    size_t starP = kNone, starT = 0; // resume points after the last "*"
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starT = t;
            continue;
        }
        if (p < pattern.size()) {
            size_t tl = Utf8CharLength(text, t);
            size_t pl = Utf8CharLength(pattern, p);
            if (pattern[p] == '?' || EqualNoCase(text.substr(t, tl), pattern.substr(p, pl))) {
                t += tl;
                p += pattern[p] == '?' ? 1 : pl;
                continue;
            }
        }
        if (starP == kNone)
            return false;
        // Let the last "*" take one more character and try again from there.
        starT += Utf8CharLength(text, starT);
        t = starT;
        p = starP;
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

size_t HeaderValue(std::string_view header, std::string_view name) {
    if (!name.empty() && name.back() == ':')
        name.remove_suffix(1);
    if (name.empty())
        return kNone;
    for (size_t line = 0; line < header.size();) {
        size_t colon = line + name.size();
        if (colon < header.size() && header[colon] == ':' &&
            EqualNoCase(header.substr(line, name.size()), name))
            return SkipHeaderBlanks(header, colon + 1);
        size_t crlf = header.find("\r\n", line);
        if (crlf == kNone)
            break;
        line = crlf + 2;
    }
    return kNone;
}

} // namespace brindle
