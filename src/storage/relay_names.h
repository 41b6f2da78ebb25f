// Names of relay files and the order in which they are fetched.
//
// A relay file is named sender, bracket, receiver, ".", sequence (eight
// upper-case hexadecimal digits). Sender and receiver are upper-cased
// computer names: letters, digits, "_" and "-", 1 to 63 of them. Names read
// from a folder listing are untrusted: anything outside this grammar is
// ignored, so no control byte or "/" of a listing ever reaches a request, a
// log line or a path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

inline constexpr size_t RELAY_PEER_NAME_MAX = 63;

// The relay form of a computer or peer name: upper-cased. False (and
// `upper` empty) when the result is not 1-63 of [A-Z0-9_-].
bool RelayPeerName(std::string_view name, std::string& upper);
// True when `name` already is a valid relay name (upper case).
bool IsRelayPeerName(std::string_view name);

// Brackets by direction and packet type. A parenthesis carries a packet
// type below 100 (kind 1), a brace an image (kind 0); an opening bracket
// marks a file a server wrote, a closing one a file a client wrote.
char RelayBracket(bool fFromServer, bool fImage);
int RelayKind(char bracket);        // 1, 0, or -1 for no bracket
bool RelayFromServer(char bracket); // "(" or "{"

// "HOST1{PC2.0000001A": the name as a listing shows it.
std::string RelayFileName(std::string_view sender, char bracket, std::string_view receiver,
                          uint32_t nSequence);
// The same with the bracket URL-encoded, for request paths. Sender and
// receiver must be valid relay names (they need no encoding).
std::string RelayFileNameEncoded(std::string_view sender, char bracket, std::string_view receiver,
                                 uint32_t nSequence);

struct RelayFileInfo {
    std::string cSender;
    char cBracket = 0;
    std::string cReceiver;
    uint32_t nSequence = 0;
    int nKind = 0;
};

// Parses a decoded name: exactly sender, bracket, receiver, "." and eight
// hexadecimal digits (either case), names as above. False for anything
// else (".err" files, control bytes, "/", long names).
bool ParseRelayName(std::string_view name, RelayFileInfo& info);

// Decodes every "%XX" (either case). A "%" without two hex digits stays as
// it is.
std::string UrlDecode(std::string_view text);

// The decoded last segment of a listing href (the text after its last "/";
// empty for a folder href ending in "/").
std::string HrefFileName(std::string_view href);

// Serial number order: true when `a` comes before `b`, that is, b is ahead
// of a by less than 0x80000000. Holds across the wrap from 0xFFFFFFFF to 0.
bool SerialBefore(uint32_t a, uint32_t b);

// A total order for a set of sequences that agrees with SerialBefore for
// every pair as long as the set spans less than half the number circle:
// the sequence after the widest gap is the oldest. Returns that oldest
// sequence; sort by (sequence - base) then. 0 for an empty set.
uint32_t SerialBase(const std::vector<uint32_t>& sequences);

// One file found in a listing.
struct FoundFile {
    int nKind = 0;
    uint32_t nSequence = 0;
    std::string cSender; // upper-cased peer name
};

// Puts the found files in fetch order: kind 1 before kind 0, and within a
// kind the oldest sequence first in serial order.
void SortFetchOrder(std::vector<FoundFile>& files);

} // namespace brindle
