// The PROPFIND multistatus answer as WebDAV servers write it, and as a
// hostile one might; and the request texts the relay sends.
#include "storage/http_answer.h"
#include "storage/propfind_listing.h"
#include "storage/relay_requests.h"

#include <gtest/gtest.h>

#include <string>

namespace brindle {
namespace {

std::string Response(const std::string& p, const std::string& href, const std::string& length) {
    return "<" + p + "response><" + p + "href>" + href + "</" + p + "href><" + p + "propstat><" +
           p + "prop>" + length + "</" + p + "prop></" + p + "propstat></" + p + "response>";
}

TEST(Propfind, DavElementsUnderAnyPrefix) {
    for (std::string prefix : {"D:", "a:", "lp1:", ""}) {
        std::string ns = prefix.empty() ? "" : prefix.substr(0, prefix.size() - 1);
        std::string xmlns = ns.empty() ? " xmlns=\"DAV:\"" : " xmlns:" + ns + "=\"DAV:\"";
        std::string xml =
            "<?xml version=\"1.0\"?><" + prefix + "multistatus" + xmlns + ">" +
            Response(prefix, "/b/%21Brindleshank%21/", "") +
            Response(prefix, "/b/%21Brindleshank%21/H%7BC.00000001",
                     "<" + prefix + "getcontentlength> 300\n</" + prefix + "getcontentlength>") +
            "</" + prefix + "multistatus>";
        PropfindListing listing;
        ASSERT_TRUE(ParsePropfind(xml, listing)) << prefix;
        ASSERT_EQ(listing.entries.size(), 2u) << prefix;
        EXPECT_EQ(listing.entries[0].nLength, -1);
        EXPECT_EQ(listing.entries[1].cHref, "/b/%21Brindleshank%21/H%7BC.00000001");
        EXPECT_EQ(listing.entries[1].nLength, 300);
    }
}

TEST(Propfind, LookalikesOutsideTheDavNamespaceAreNotEntries) {
    // "response" of another namespace, a comment and CDATA that spell one.
    std::string xml = "<D:multistatus xmlns:D=\"DAV:\" xmlns:X=\"urn:x\">"
                      "<X:response><X:href>/fake</X:href></X:response>"
                      "<!-- <D:response><D:href>/c</D:href></D:response> -->"
                      "<D:response><D:href><![CDATA[/real&<>]]></D:href>"
                      "<D:propstat><D:prop><D:getcontentlength>12x</D:getcontentlength>"
                      "<D:displayname>shown</D:displayname></D:prop></D:propstat></D:response>"
                      "</D:multistatus>";
    PropfindListing listing;
    ASSERT_TRUE(ParsePropfind(xml, listing));
    ASSERT_EQ(listing.entries.size(), 1u);
    EXPECT_EQ(listing.entries[0].cHref, "/real&<>");
    EXPECT_EQ(listing.entries[0].cDisplayName, "shown");
    EXPECT_EQ(listing.entries[0].nLength, -1);
}

TEST(Propfind, BrokenOrHostileAnswersAreRefusedWithoutLosingEarlierEntries) {
    std::string head = "<D:multistatus xmlns:D=\"DAV:\">" + Response("D:", "/ok", "");
    struct Case {
        std::string xml;
        bool ok;
        size_t nEntries;
    } cases[] = {
        {head + "<D:response><D:href>/cut", false, 1},
        {"", false, 0},
        {"not xml at all", false, 0},
        {"<!DOCTYPE m [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>"
         "<D:multistatus xmlns:D=\"DAV:\">" +
             Response("D:", "&b;", "") + "</D:multistatus>",
         false, 0},
        {"<!DOCTYPE m SYSTEM \"file:///etc/passwd\"><D:multistatus xmlns:D=\"DAV:\"/>", true, 0},
        // A text too long for any relay name drops only its own entry.
        {head + Response("D:", std::string(PROPFIND_TEXT_MAX + 1, 'a'), "") + "</D:multistatus>",
         true, 1},
    };
    for (const Case& c : cases) {
        PropfindListing listing;
        std::string reason;
        EXPECT_EQ(ParsePropfind(c.xml, listing, &reason), c.ok) << c.xml.substr(0, 60);
        EXPECT_EQ(listing.entries.size(), c.nEntries) << c.xml.substr(0, 60);
        if (!c.ok) {
            EXPECT_FALSE(reason.empty());
        }
    }
}

TEST(Propfind, FolderBitsFromHrefs) {
    EXPECT_EQ(ListingFolderBits("/b/%21Brindleshank%21/"), 2u);
    EXPECT_EQ(ListingFolderBits("/b/!Brindleshank!/TMP/"), 6u);
    EXPECT_EQ(ListingFolderBits("/b/%21Brindleshank%21/tmp"), 6u);
    EXPECT_EQ(ListingFolderBits("/b/x!Brindleshank!/tmp/"), 0u);
    EXPECT_EQ(ListingFolderBits("/b/other/"), 0u);
}

TEST(RelayRequests, HeadersTheWebDavServerActsOn) {
    RelayTarget target{true, "dav.example:8443"};
    std::string auth = "Authorization: Basic eA==\r\n";
    std::string put =
        PutRequest(target, "/b/%21Brindleshank%21/tmp/H%7BC.00000001", auth, 304, false);
    EXPECT_EQ(put.rfind("PUT /b/%21Brindleshank%21/tmp/H%7BC.00000001 HTTP/1.1\r\n"
                        "Host: dav.example:8443\r\nAuthorization: Basic eA==\r\n",
                        0),
              0u);
    EXPECT_NE(put.find("Overwrite: F\r\n"), std::string::npos);
    EXPECT_EQ(put.find("If-None-Match"), std::string::npos);
    EXPECT_NE(put.find("Content-Length: 304\r\n\r\n"), std::string::npos);
    EXPECT_NE(PutRequest(target, "/x", "", 1, true).find("If-None-Match: *\r\n"),
              std::string::npos);

    std::string move = PublishRequest(target, "/b/t/x", "/b/%21Brindleshank%21/x", "");
    EXPECT_NE(move.find("Destination: https://dav.example:8443/b/%21Brindleshank%21/x\r\n"),
              std::string::npos);
    EXPECT_NE(move.find("Overwrite: F\r\n"), std::string::npos);
    EXPECT_NE(QuarantineRequest(target, "/x", "/x.err", "").find("Overwrite: T\r\n"),
              std::string::npos);

    std::string find = PropfindRequest(RelayTarget{false, "h"}, "/b/%21Brindleshank%21/", "");
    EXPECT_NE(find.find("Content-Type: text/xml; charset=\"utf-8\"\r\n"), std::string::npos);
    EXPECT_NE(find.find("Depth: 1\r\nContent-Type"), std::string::npos);
    EXPECT_EQ(kPropfindBody.size(), 124u);
    EXPECT_EQ(find.substr(find.size() - 124), kPropfindBody);
    EXPECT_NE(find.find("Content-Length: 124\r\n\r\n<?xml"), std::string::npos);
    // Every request is a well-formed header block the answer parser would accept as such.
    for (const std::string& r : {put, move, find, GetRequest(target, "/x", auth),
                                 DeleteRequest(target, "/x", auth), MkcolRequest(target, "/x", "")})
        EXPECT_NE(r.find("\r\n\r\n"), std::string::npos);
}

} // namespace
} // namespace brindle
