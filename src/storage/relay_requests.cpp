#include "storage/relay_requests.h"

namespace brindle {

namespace {

// Request line, Host, Destination (when given), credentials and the lines
// every relay request carries.
std::string Head(std::string_view method, const RelayTarget& target, std::string_view path,
                 std::string_view destinationPath, std::string_view auth) {
    std::string text;
    text.reserve(320 + path.size() + destinationPath.size() + auth.size());
    text.append(method).append(" ").append(path).append(" HTTP/1.1\r\nHost: ");
    text.append(target.cAuthority).append("\r\n");
    if (!destinationPath.empty()) {
        text.append("Destination: ").append(target.fHttps ? "https" : "http").append("://");
        text.append(target.cAuthority).append(destinationPath).append("\r\n");
    }
    text.append(auth);
    text.append("Connection: Keep-Alive\r\nUser-Agent: Brindleshank (Win32)\r\n"
                "Accept-Encoding: identity\r\nTranslate: f\r\n");
    return text;
}

} // namespace

std::string MkcolRequest(const RelayTarget& target, std::string_view path, std::string_view auth) {
    return Head("MKCOL", target, path, {}, auth) + "Depth: 1\r\nContent-Length: 0\r\n\r\n";
}

std::string PutRequest(const RelayTarget& target, std::string_view path, std::string_view auth,
                       size_t nLength, bool fCreateOnly) {
    std::string text = Head("PUT", target, path, {}, auth);
    text += "Overwrite: F\r\n";
    if (fCreateOnly)
        text += "If-None-Match: *\r\n";
    text += "Depth: 0\r\nContent-Type: application/octet-stream\r\nContent-Length: ";
    return text + std::to_string(nLength) + "\r\n\r\n";
}

std::string PublishRequest(const RelayTarget& target, std::string_view path,
                           std::string_view destinationPath, std::string_view auth) {
    return Head("MOVE", target, path, destinationPath, auth) +
           "Overwrite: F\r\nDepth: 0\r\nContent-Length: 0\r\n\r\n";
}

std::string QuarantineRequest(const RelayTarget& target, std::string_view path,
                              std::string_view destinationPath, std::string_view auth) {
    return Head("MOVE", target, path, destinationPath, auth) +
           "Overwrite: T\r\nDepth: infinity\r\nContent-Length: 0\r\n\r\n";
}

std::string PropfindRequest(const RelayTarget& target, std::string_view path,
                            std::string_view auth) {
    std::string text = Head("PROPFIND", target, path, {}, auth);
    text += "Depth: 1\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nContent-Length: ";
    text += std::to_string(kPropfindBody.size()) + "\r\n\r\n";
    return text.append(kPropfindBody);
}

std::string GetRequest(const RelayTarget& target, std::string_view path, std::string_view auth) {
    return Head("GET", target, path, {}, auth) + "Depth: 0\r\nContent-Length: 0\r\n\r\n";
}

std::string DeleteRequest(const RelayTarget& target, std::string_view path, std::string_view auth) {
    return Head("DELETE", target, path, {}, auth) + "Depth: infinity\r\nContent-Length: 0\r\n\r\n";
}

} // namespace brindle
