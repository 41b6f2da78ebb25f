// The PROPFIND listing parser and the relay name checks over any bytes.
//
// Every entry must respect the text limit, and every name that passes the
// relay name check must be free of control bytes and "/" and rebuild to
// itself.
#include "storage/propfind_listing.h"
#include "storage/relay_names.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace brindle;

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

void CheckName(const std::string& href) {
    RelayFileInfo info;
    std::string name = HrefFileName(href);
    if (!ParseRelayName(name, info))
        return;
    for (char c : name)
        Check(static_cast<unsigned char>(c) > 0x20 && c != '/' && c != '%');
    Check(IsRelayPeerName(info.cSender) && IsRelayPeerName(info.cReceiver));
    Check(RelayFileName(info.cSender, info.cBracket, info.cReceiver, info.nSequence).size() ==
          name.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view xml(reinterpret_cast<const char*>(data), size);
    PropfindListing listing;
    ParsePropfind(xml, listing);
    for (const PropfindEntry& e : listing.entries) {
        Check(e.cHref.size() <= PROPFIND_TEXT_MAX && e.cDisplayName.size() <= PROPFIND_TEXT_MAX);
        Check(e.nLength >= -1);
        CheckName(e.cHref);
        CheckName(e.cDisplayName);
        ListingFolderBits(e.cHref);
    }
    CheckName(std::string(xml));
    return 0;
}
