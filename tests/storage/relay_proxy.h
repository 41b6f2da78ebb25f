// A scripted proxy in front of the test's lighttpd: each request is either
// answered by the script (a status, a cut answer, a dropped connection) or
// passed on to the real server unchanged, so that the relay meets storage
// faults that a healthy server never shows.
#pragma once

#include "storage/http_answer.h"

#include "scripted_http.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace brindle::test {

class RelayProxy {
  public:
    // What to do with a request: forward it, answer `text` and keep the
    // connection, or send `text` and close (a cut or missing answer).
    struct Reply {
        enum Kind { Forward, Answer, Close } kind = Forward;
        std::string text;
    };
    using Rule = std::function<Reply(const std::string& method, const std::string& path)>;

    static Reply Status(int nStatus) {
        return {Reply::Answer,
                "HTTP/1.1 " + std::to_string(nStatus) + " Scripted\r\nContent-Length: 0\r\n\r\n"};
    }

    RelayProxy(uint16_t nUpstream, Rule rule)
        : nUpstream_(nUpstream), rule_(std::move(rule)),
          server_([this](int fd, int) { return Serve(fd); }) {}

    uint16_t Port() const { return server_.Port(); }
    // "METHOD path" of every request seen, in order.
    std::vector<std::string> Seen() const {
        std::lock_guard lock(lock_);
        return seen_;
    }

  private:
    bool Serve(int fd) {
        for (;;) {
            std::string head = ReadUntil(fd, "\r\n\r\n");
            size_t end = head.find("\r\n\r\n");
            if (end == std::string::npos)
                return true; // the client closed: wait for the next connection
            std::string body = head.substr(end + 4);
            head.resize(end + 4);
            std::string_view length; // points into `fields`, which must outlive it
            const std::string fields = head.substr(head.find("\r\n") + 2);
            if (HttpHeaderField(fields, "Content-Length", length)) {
                size_t n = std::stoul(std::string(length));
                while (body.size() < n) {
                    char buffer[4096];
                    ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
                    if (got <= 0)
                        return true;
                    body.append(buffer, static_cast<size_t>(got));
                }
            }
            size_t sp1 = head.find(' '), sp2 = head.find(' ', sp1 + 1);
            std::string method = head.substr(0, sp1), path = head.substr(sp1 + 1, sp2 - sp1 - 1);
            {
                std::lock_guard lock(lock_);
                seen_.push_back(method + " " + path);
            }
            Reply reply = rule_(method, path);
            if (reply.kind == Reply::Forward)
                reply.text = Forward(head + body);
            SendText(fd, reply.text);
            if (reply.kind == Reply::Close)
                return true;
        }
    }

    std::string Forward(const std::string& request) {
        UniqueFd up = ConnectLoopback(nUpstream_);
        SendText(up.Get(), request);
        HttpAnswerParser parser;
        std::string raw;
        char buffer[16384];
        while (parser.State() == HttpParse::NeedMore) {
            ssize_t n = ::recv(up.Get(), buffer, sizeof buffer, 0);
            if (n <= 0) {
                parser.Finish();
                break;
            }
            raw.append(buffer, static_cast<size_t>(n));
            parser.Feed(std::string_view(buffer, static_cast<size_t>(n)));
        }
        return raw;
    }

    uint16_t nUpstream_;
    Rule rule_;
    mutable std::mutex lock_;
    std::vector<std::string> seen_;
    ScriptedHttpServer server_; // last: its thread uses the members above
};

} // namespace brindle::test
