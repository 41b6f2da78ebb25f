// The request texts of the relay: one function per use, each a complete
// header block (and the PROPFIND body). Paths are URL paths already
// encoded; `auth` is the authorization and cookie lines, each ending in
// CRLF, or empty.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brindle {

// The PROPFIND body: content length and display name of each entry.
inline constexpr std::string_view kPropfindBody =
    "<?xml version=\"1.0\" ?>\r\n<a:propfind xmlns:a=\"DAV:\">\r\n"
    "<a:prop><a:getcontentlength/><a:displayname/></a:prop>\r\n</a:propfind>\r\n";

// Where the relay's requests go. `cAuthority` is the host with ":port" when
// the account names a port: it is both the Host line and the authority of a
// MOVE's Destination, which WebDAV servers compare.
struct RelayTarget {
    bool fHttps = false;
    std::string cAuthority;
};

std::string MkcolRequest(const RelayTarget& target, std::string_view path, std::string_view auth);
// The body follows: nLength bytes. fCreateOnly (uploads straight to the
// final name, when the server cannot MOVE) refuses to replace an existing
// file, as a publishing MOVE does.
std::string PutRequest(const RelayTarget& target, std::string_view path, std::string_view auth,
                       size_t nLength, bool fCreateOnly);
// Publishes a staged file under `destinationPath`; an existing file of that
// name is never replaced (412).
std::string PublishRequest(const RelayTarget& target, std::string_view path,
                           std::string_view destinationPath, std::string_view auth);
// Moves a broken file aside to `destinationPath` (its ".err" name).
std::string QuarantineRequest(const RelayTarget& target, std::string_view path,
                              std::string_view destinationPath, std::string_view auth);
// With the body kPropfindBody appended.
std::string PropfindRequest(const RelayTarget& target, std::string_view path,
                            std::string_view auth);
std::string GetRequest(const RelayTarget& target, std::string_view path, std::string_view auth);
std::string DeleteRequest(const RelayTarget& target, std::string_view path, std::string_view auth);

} // namespace brindle
