#include "storage/propfind_listing.h"

#include "storage/relay_names.h"

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace brindle {

namespace {

// Expat joins namespace URI and local name with this separator.
constexpr char kSeparator = '\x01';

enum class Field { None, Href, DisplayName, Length };

struct ParseState {
    XML_Parser parser = nullptr;
    PropfindListing* listing = nullptr;
    int nResponseDepth = 0; // depth of the open response element, 0: none
    int nDepth = 0;
    Field field = Field::None;
    int nFieldDepth = 0;
    PropfindEntry entry;
    std::string text;
    bool fTooLong = false;
    bool fEntryBad = false;
    const char* reason = nullptr;
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsDav(const XML_Char* name, const char* local) {
    static constexpr char kDav[] = "DAV:";
    size_t n = sizeof kDav - 1;
    return std::strncmp(name, kDav, n) == 0 && name[n] == kSeparator &&
           std::strcmp(name + n + 1, local) == 0;
}

int64_t ParseLength(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    if (text.empty() || text.size() > 18)
        return -1;
    int64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char**) {
    auto& s = *static_cast<ParseState*>(data);
    ++s.nDepth;
    if (s.nResponseDepth == 0) {
        if (IsDav(name, "response")) {
            s.nResponseDepth = s.nDepth;
            s.entry = PropfindEntry();
            s.fEntryBad = false;
        }
        return;
    }
    if (s.field != Field::None)
        return; // markup inside a field's text: the field ends up empty
    Field field = IsDav(name, "href")               ? Field::Href
                  : IsDav(name, "displayname")      ? Field::DisplayName
                  : IsDav(name, "getcontentlength") ? Field::Length
                                                    : Field::None;
    if (field == Field::None)
        return;
    s.field = field;
    s.nFieldDepth = s.nDepth;
    s.text.clear();
    s.fTooLong = false;
}

void TakeField(ParseState& s) {
    if (s.fTooLong) {
        s.fEntryBad = true;
        return;
    }
    switch (s.field) {
    case Field::Href:
        if (s.entry.cHref.empty()) // the response's own href, not one nested deeper
            s.entry.cHref = s.text;
        break;
    case Field::DisplayName:
        s.entry.cDisplayName = s.text;
        break;
    case Field::Length:
        s.entry.nLength = ParseLength(s.text);
        break;
    case Field::None:
        break;
    }
}

void XMLCALL OnEnd(void* data, const XML_Char*) {
    auto& s = *static_cast<ParseState*>(data);
    if (s.field != Field::None && s.nDepth == s.nFieldDepth) {
        TakeField(s);
        s.field = Field::None;
    }
    if (s.nResponseDepth != 0 && s.nDepth == s.nResponseDepth) {
        if (!s.fEntryBad)
            s.listing->entries.push_back(std::move(s.entry));
        s.nResponseDepth = 0;
    }
    --s.nDepth;
}

void XMLCALL OnText(void* data, const XML_Char* text, int len) {
    auto& s = *static_cast<ParseState*>(data);
    if (s.field == Field::None || s.fTooLong)
        return;
    if (s.text.size() + static_cast<size_t>(len) > PROPFIND_TEXT_MAX) {
        s.fTooLong = true;
        return;
    }
    s.text.append(text, static_cast<size_t>(len));
}

void XMLCALL OnEntityDecl(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                          const XML_Char*, const XML_Char*, const XML_Char*) {
    auto& s = *static_cast<ParseState*>(data);
    s.reason = "entity declaration";
    XML_StopParser(s.parser, XML_FALSE);
}

struct ParserFree {
    void operator()(XML_ParserStruct* p) const { XML_ParserFree(p); }
};

} // namespace

bool ParsePropfind(std::string_view xml, PropfindListing& listing, std::string* reason) {
    std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreateNS(nullptr, kSeparator));
    if (!parser) {
        if (reason)
            *reason = "out of memory";
        return false;
    }
    ParseState state;
    state.parser = parser.get();
    state.listing = &listing;
    XML_SetUserData(parser.get(), &state);
    XML_SetElementHandler(parser.get(), OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser.get(), OnText);
    XML_SetEntityDeclHandler(parser.get(), OnEntityDecl);
    XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);

    // Expat takes int lengths: feed large answers in pieces.
    constexpr size_t kPiece = 1 << 20;
    bool ok = true;
    size_t pos = 0;
    do {
        size_t n = std::min(kPiece, xml.size() - pos);
        bool fFinal = pos + n == xml.size();
        if (XML_Parse(parser.get(), xml.data() + pos, static_cast<int>(n), fFinal) !=
            XML_STATUS_OK) {
            ok = false;
            break;
        }
        pos += n;
    } while (pos < xml.size());
    if (!ok && reason)
        *reason = state.reason ? state.reason : XML_ErrorString(XML_GetErrorCode(parser.get()));
    return ok;
}

uint32_t ListingFolderBits(std::string_view href) {
    static constexpr std::string_view kMarker = "/!Brindleshank!";
    std::string decoded = UrlDecode(href);
    size_t at = decoded.find(kMarker);
    if (at == std::string::npos)
        return 0;
    std::string_view after = std::string_view(decoded).substr(at + kMarker.size());
    uint32_t bits = 2;
    if (after.size() >= 4 && after[0] == '/' && (after[1] | 0x20) == 't' &&
        (after[2] | 0x20) == 'm' && (after[3] | 0x20) == 'p')
        bits |= 4;
    return bits;
}

} // namespace brindle
