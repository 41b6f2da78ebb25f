// The multistatus answer of a PROPFIND: one entry per response element.
//
// The answer is read as XML in namespace mode, so the elements of the
// "DAV:" namespace are found under any prefix (or none) and nothing else
// that merely looks like them is. Entity declarations are refused (no
// expansion bombs); no external resource is ever read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// Texts longer than this (href, display name, length) make their entry
// unusable: no relay name comes near it.
inline constexpr size_t PROPFIND_TEXT_MAX = 1024;

struct PropfindEntry {
    std::string cHref;        // as the server wrote it (still URL-encoded)
    std::string cDisplayName; // used when there is no href
    int64_t nLength = -1;     // getcontentlength; -1 when absent or not a number
};

struct PropfindListing {
    std::vector<PropfindEntry> entries;
};

// Parses the answer body. Returns false (with a short English reason) when
// it is not well-formed XML or declares entities; `listing` then holds the
// entries completed before the fault.
bool ParsePropfind(std::string_view xml, PropfindListing& listing, std::string* reason = nullptr);

// The relay folder bits a listing shows: 2 when an href holds
// "!Brindleshank!" right after a "/", 4 when "/tmp" (any case) follows it.
// The href is decoded first.
uint32_t ListingFolderBits(std::string_view href);

} // namespace brindle
